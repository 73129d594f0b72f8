#pragma once

#include <chrono>
#include <csignal>

namespace talbo::tesk::vorta {

// Catches SIGINT, SIGTERM and SIGHUP for as long as it lives. The handler only writes the
// signal's number to a pipe; the command line's polling loop and the wizard's event loop read the
// pipe and act outside the handler. The pipe's ends are above the standard streams, so that
// nothing the tool writes to a closed standard output can ever read as a signal. The previous
// handling comes back when it is destroyed. At most one instance at a time; made and destroyed on
// the main thread.
//
// A hangup counts only as the first stop: a terminal or SSH session that goes away delivers
// SIGHUP more than once (from the shell and from the kernel), and nobody at a closed terminal can
// have asked twice, so a SIGHUP never escalates a stop already under way.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the pipe or the handlers could not be set up; the signals then keep their
    // previous handling.
    bool Active() const { return m_nReadFd >= 0; }
    // Readable while signals wait to be taken (for an event loop to watch); -1 when inactive.
    int ReadFd() const { return m_nReadFd; }

    // Takes the signals that arrived since the last call without waiting; returns how many
    // count (a SIGHUP after any earlier signal does not).
    int Take();
    // Waits up to timeout for a signal, then takes what arrived; returns how many.
    int Wait(std::chrono::milliseconds timeout);

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

    int m_nReadFd = -1;
    int m_nWriteFd = -1;
    int m_nCounted = 0;  // signals counted so far
    struct sigaction m_previous[3]{};
};

}  // namespace talbo::tesk::vorta
