#pragma once
// A stop request shared by every thread of the simulator, so that delays and stalls end at once
// when the program is told to stop.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace talbo::tesk::vorta::devsim {

class CStopToken {
public:
    void RequestStop();
    bool StopRequested() const;
    // Sleeps for the given time; false when a stop was requested before it had passed.
    bool WaitFor(std::chrono::milliseconds duration);
    // Sleeps until a stop is requested.
    void WaitForStop();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
};

}  // namespace talbo::tesk::vorta::devsim
