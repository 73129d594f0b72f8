#include "engine/model/CParallelBlockReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <numeric>
#include <thread>

#include "engine/model/CMD5Digest.h"

namespace talbo::tesk::vorta {

namespace {

constexpr std::size_t kHugePageSize = std::size_t{2} * 1024 * 1024;

// Big blocks get transparent huge pages where the system offers them on request: faulting in
// 4 KiB pages one by one costs about as much as reading the block from the page cache. The
// advice must come before the first touch; it is only advice, so a refusal changes nothing.
void AdviseHugePages(void* start, std::size_t size) {
    if (size < 2 * kHugePageSize) {
        return;
    }
    const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = (begin + pageSize - 1) / pageSize * pageSize;
    const std::uintptr_t last = (begin + size) / pageSize * pageSize;
    if (last > first) {
        // The first whole page is reached from the block's own pointer, not made from a number.
        ::madvise(static_cast<char*>(start) + (first - begin), last - first, MADV_HUGEPAGE);
    }
}

// Work shared by the threads of one Read. Each block index is handed out once, so every
// block and digest slot is written by exactly one thread.
class CBlockWork {
public:
    CBlockWork(const CImageFile& file, const std::vector<CParallelBlockReader::Extent>& extents,
               std::vector<ByteSequence>& blocks, std::vector<std::wstring>& digests)
        : file(file), extents(extents), blocks(blocks), digests(digests), order(extents.size()) {
        // Largest first: the big blocks start at once on different threads and the small
        // ones fill the gaps at the end.
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return extents[a].size > extents[b].size;
        });
    }

    void Run() noexcept {
        try {
            for (;;) {
                if (failed.load(std::memory_order_relaxed)) {
                    return;
                }
                const std::size_t next = taken.fetch_add(1, std::memory_order_relaxed);
                if (next >= order.size()) {
                    return;
                }
                if (!ReadOne(order[next])) {
                    failed.store(true, std::memory_order_relaxed);
                    return;
                }
            }
        } catch (...) {
            failed.store(true, std::memory_order_relaxed);
        }
    }

    bool Failed() const { return failed.load(); }

private:
    bool ReadOne(std::size_t index) {
        const CParallelBlockReader::Extent& extent = extents[index];
        ByteSequence block;
        block.reserve(extent.size);  // storage without touching it yet
        AdviseHugePages(block.data(), extent.size);
        block.resize(extent.size);
        if (!file.ReadExactAt(extent.offset, block.data(), block.size())) {
            return false;
        }
        digests[index] = MakeDigestText(block);
        blocks[index] = std::move(block);
        return true;
    }

    const CImageFile& file;
    const std::vector<CParallelBlockReader::Extent>& extents;
    std::vector<ByteSequence>& blocks;
    std::vector<std::wstring>& digests;
    std::vector<std::size_t> order;
    std::atomic<std::size_t> taken{0};
    std::atomic<bool> failed{false};
};

}  // namespace

std::size_t CParallelBlockReader::WorkerCount(std::size_t count) {
    const std::size_t cores = std::max(1U, std::thread::hardware_concurrency());
    return std::max<std::size_t>(1, std::min(cores, count));
}

bool CParallelBlockReader::Read(const CImageFile& file, const std::vector<Extent>& extents,
                                std::vector<ByteSequence>& blocks,
                                std::vector<std::wstring>& digests) {
    blocks.clear();
    digests.clear();
    blocks.resize(extents.size());
    digests.resize(extents.size());
    CBlockWork work(file, extents, blocks, digests);

    // The calling thread is one of the workers. A thread that cannot be started just leaves
    // its share to the others.
    std::vector<std::thread> helpers;
    const std::size_t workers = WorkerCount(extents.size());
    try {
        helpers.reserve(workers - 1);
        for (std::size_t i = 1; i < workers; ++i) {
            helpers.emplace_back([&work] { work.Run(); });
        }
    } catch (...) {
    }
    work.Run();
    for (std::thread& helper : helpers) {
        helper.join();
    }

    if (work.Failed()) {
        blocks.clear();
        digests.clear();
        return false;
    }
    return true;
}

}  // namespace talbo::tesk::vorta
