#include "simulator/CStopToken.h"

namespace talbo::tesk::vorta::devsim {

void CStopToken::RequestStop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
}

bool CStopToken::StopRequested() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

bool CStopToken::WaitFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [this] { return stop_; });
}

void CStopToken::WaitForStop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stop_; });
}

}  // namespace talbo::tesk::vorta::devsim
