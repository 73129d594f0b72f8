#pragma once

#include <string>

namespace talbo::tesk::vorta {

// A lock held by one running tool: an abstract Unix socket named after the executable's file
// name, which vanishes with the process. A second instance that finds it taken can ask the
// first one to bring its window to the front.
class SingleInstanceLock {
public:
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();

    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // True when this process holds the lock.
    bool Acquired() const { return listenFd >= 0; }
    // The listening socket of the holder (for a window toolkit to watch), or -1.
    int ListenSocket() const { return listenFd; }

    // Asks the holder of the lock to raise its window; false when nobody answers.
    static bool AskHolderToRaise(const std::string& name);
    // On the holder: accepts one waiting request; true when it asked for the window.
    bool AcceptRaiseRequest();

    static constexpr char kRaiseRequest = 'R';

private:
    int listenFd = -1;
};

}  // namespace talbo::tesk::vorta
