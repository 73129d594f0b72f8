#pragma once
// MD5 of a long stream computed on a helper thread, so that digesting a file part overlaps with
// receiving it. Bytes are copied into a few fixed buffers that the helper digests in order; when
// all are full the feeder waits, so memory stays bounded whatever the stream's length.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "simulator/CMd5Stream.h"

namespace talbo::tesk::vorta::devsim {

class CPipelinedMd5 {
public:
    CPipelinedMd5();
    ~CPipelinedMd5();
    CPipelinedMd5(const CPipelinedMd5&) = delete;
    CPipelinedMd5& operator=(const CPipelinedMd5&) = delete;

    void Update(std::string_view bytes);
    // Waits for the helper and gives the digest; later updates are ignored.
    std::string FinishHex();

private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    static constexpr std::size_t kBuffers = 4;

    void Run();
    void HandOver();  // the current buffer goes to the helper

    CMd5Stream md5_;  // used by the helper only until FinishHex
    std::vector<std::string> buffers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::size_t> filled_;  // buffer indexes waiting for the helper, in order
    std::deque<std::size_t> free_;
    std::size_t current_ = 0;  // buffer being filled, owned by the feeder
    std::size_t used_ = 0;     // bytes in the current buffer
    bool ending_ = false;
    bool finished_ = false;
    std::string digest_;
    std::thread helper_;
};

}  // namespace talbo::tesk::vorta::devsim
