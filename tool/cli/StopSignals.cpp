#include "tool/cli/StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace talbo::tesk::vorta {

namespace {

// The handler's only state: where to write. A lock-free atomic is safe to read in a handler.
std::atomic<int> g_writeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signal) {
    const int savedErrno = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const auto byte = static_cast<char>(signal);
        // A full pipe already holds more signals than anyone counts; the byte may be dropped.
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    // With a standard stream closed the pipe would take its number, and the tool's own output
    // would arrive as signals.
    for (int& fd : fds) {
        if (fd <= STDERR_FILENO) {
            const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            ::close(fd);
            fd = moved;
        }
    }
    if (fds[0] < 0 || fds[1] < 0) {
        for (const int fd : fds) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        return;
    }
    m_nReadFd = fds[0];
    m_nWriteFd = fds[1];
    g_writeFd.store(m_nWriteFd);
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // blocking calls elsewhere go on; the loops poll the pipe
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &action, &m_previous[i]);
    }
}

StopSignals::~StopSignals() {
    if (m_nReadFd < 0) {
        return;
    }
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    g_writeFd.store(-1);
    ::close(m_nWriteFd);
    ::close(m_nReadFd);
}

int StopSignals::Take() {
    if (m_nReadFd < 0) {
        return 0;
    }
    int count = 0;
    char buffer[64];
    for (;;) {
        const ssize_t n = ::read(m_nReadFd, buffer, sizeof buffer);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == static_cast<char>(SIGHUP) && m_nCounted > 0) {
                    continue;  // a hangup never escalates a stop under way
                }
                ++m_nCounted;
                ++count;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return count;  // empty (EAGAIN) or closed
        }
    }
}

int StopSignals::Wait(std::chrono::milliseconds timeout) {
    if (m_nReadFd < 0) {
        ::poll(nullptr, 0, static_cast<int>(timeout.count()));
        return 0;
    }
    pollfd fd{m_nReadFd, POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(timeout.count()));  // a signal cuts it short: that is fine
    return Take();
}

}  // namespace talbo::tesk::vorta
