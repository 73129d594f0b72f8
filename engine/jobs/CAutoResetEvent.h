#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace talbo::tesk::vorta {

// An event that releases one waiter and clears itself. TryConsume is the zero-wait test: it
// consumes a set signal, so one signal is taken at most once.
class CAutoResetEvent {
public:
    void Set() {
        {
            const std::lock_guard<std::mutex> guard(lock);
            signalled = true;
        }
        changed.notify_one();
    }

    void Wait() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return signalled; });
        signalled = false;
    }

    // Waits at most the duration; true (and the signal consumed) when it was set.
    template <class Rep, class Period>
    bool WaitFor(std::chrono::duration<Rep, Period> duration) {
        std::unique_lock<std::mutex> guard(lock);
        if (!changed.wait_for(guard, duration, [this] { return signalled; })) {
            return false;
        }
        signalled = false;
        return true;
    }

    bool TryConsume() {
        const std::lock_guard<std::mutex> guard(lock);
        const bool was = signalled;
        signalled = false;
        return was;
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
};

}  // namespace talbo::tesk::vorta
