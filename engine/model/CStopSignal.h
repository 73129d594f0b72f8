#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace talbo::tesk::vorta {

// Tells everything a job does (its waits, its transfers, its loops) that the job must end now,
// because the library is being unloaded. Raised on the unloading thread, read on the worker
// threads; every wait that checks it ends within a second of Raise.
class CStopSignal {
public:
    void Raise() {
        {
            const std::lock_guard<std::mutex> guard(lock);
            raised.store(true);
        }
        changed.notify_all();
    }

    // Only between jobs, while no worker runs.
    void Reset() { raised.store(false); }

    bool Raised() const { return raised.load(); }

    // Sleeps for the duration unless the signal is raised first; true when the whole duration
    // passed, false when the sleep was cut short by the signal.
    template <class Rep, class Period>
    bool SleepFor(std::chrono::duration<Rep, Period> duration) {
        std::unique_lock<std::mutex> guard(lock);
        return !changed.wait_for(guard, duration, [this] { return raised.load(); });
    }

private:
    std::atomic<bool> raised{false};
    std::mutex lock;
    std::condition_variable changed;
};

}  // namespace talbo::tesk::vorta
