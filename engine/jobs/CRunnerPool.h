#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace talbo::tesk::vorta {

// The device runners of every job, kept from one job to the next. A runner thread made anew
// for each job takes whichever allocator arena is free at that moment, so a host that runs job
// after job (the wizard polls a fleet, a playbook reruns) leaves each arena with the
// fragments of different devices and grows; runners that stay keep their arena.
//
// Threads: Run and Shutdown for one thread at a time (the job's worker, then the unload).
class CRunnerPool {
public:
    CRunnerPool() = default;
    // Shutdown.
    ~CRunnerPool();

    CRunnerPool(const CRunnerPool&) = delete;
    CRunnerPool& operator=(const CRunnerPool&) = delete;

    // Calls work(index) for every index below count: index 0 on the calling thread, the others
    // on runners of the pool (made when the pool has fewer), and returns when every call has
    // returned. When no more threads can be made, fewer indices run: work must share what is
    // to be done through what it takes, not through its index. work must not throw.
    void Run(std::size_t count, const std::function<void(std::size_t)>& work);

    // Ends and joins every runner; a later Run runs index 0 alone.
    void Shutdown() noexcept;

    // How many runner threads the pool keeps (for tests).
    std::size_t Size() const;

private:
    void Serve(std::size_t index);

    mutable std::mutex lock;
    std::condition_variable wake;
    std::condition_variable done;
    std::vector<std::thread> threads;  // threads[i] serves index i + 1
    const std::function<void(std::size_t)>* work = nullptr;
    std::size_t active = 0;   // runners that take part in the current round
    std::size_t running = 0;  // of those, the ones not yet returned
    std::uint64_t round = 0;
    bool quitting = false;
};

}  // namespace talbo::tesk::vorta
