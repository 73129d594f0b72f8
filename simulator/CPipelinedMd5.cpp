#include "simulator/CPipelinedMd5.h"

#include <algorithm>
#include <cstring>

namespace talbo::tesk::vorta::devsim {

CPipelinedMd5::CPipelinedMd5() : buffers_(kBuffers, std::string(kBufferSize, '\0')) {
    for (std::size_t i = 1; i < kBuffers; ++i) {
        free_.push_back(i);
    }
    helper_ = std::thread([this] { Run(); });
}

CPipelinedMd5::~CPipelinedMd5() {
    FinishHex();
}

void CPipelinedMd5::Run() {
    while (true) {
        std::size_t index = 0;
        std::size_t size = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !filled_.empty() || ending_; });
            if (filled_.empty()) {
                return;
            }
            index = filled_.front();
            filled_.pop_front();
            size = buffers_[index].size();
        }
        md5_.Update(std::string_view(buffers_[index].data(), size));
        {
            std::lock_guard lock(mutex_);
            buffers_[index].resize(kBufferSize);
            free_.push_back(index);
        }
        changed_.notify_all();
    }
}

void CPipelinedMd5::HandOver() {
    std::unique_lock lock(mutex_);
    buffers_[current_].resize(used_);
    filled_.push_back(current_);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !free_.empty(); });
    current_ = free_.front();
    free_.pop_front();
    used_ = 0;
}

void CPipelinedMd5::Update(std::string_view bytes) {
    if (finished_) {
        return;
    }
    while (!bytes.empty()) {
        std::size_t n = std::min(bytes.size(), kBufferSize - used_);
        std::memcpy(buffers_[current_].data() + used_, bytes.data(), n);
        used_ += n;
        bytes.remove_prefix(n);
        if (used_ == kBufferSize) {
            HandOver();
        }
    }
}

std::string CPipelinedMd5::FinishHex() {
    if (finished_) {
        return digest_;
    }
    finished_ = true;
    if (used_ > 0) {
        HandOver();
    }
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    helper_.join();
    digest_ = md5_.FinishHex();
    return digest_;
}

}  // namespace talbo::tesk::vorta::devsim
