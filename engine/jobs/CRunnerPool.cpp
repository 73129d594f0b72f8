#include "engine/jobs/CRunnerPool.h"

#include <algorithm>

namespace talbo::tesk::vorta {

CRunnerPool::~CRunnerPool() {
    Shutdown();
}

std::size_t CRunnerPool::Size() const {
    const std::lock_guard<std::mutex> guard(lock);
    return threads.size();
}

void CRunnerPool::Run(std::size_t count, const std::function<void(std::size_t)>& job) {
    {
        std::unique_lock<std::mutex> guard(lock);
        while (!quitting && threads.size() + 1 < count) {
            try {
                threads.emplace_back(&CRunnerPool::Serve, this, threads.size() + 1);
            } catch (...) {
                break;  // fewer runners than asked for share the work
            }
        }
        active = count > 0 ? std::min(count - 1, threads.size()) : 0;
        running = active;
        work = &job;
        ++round;
    }
    wake.notify_all();
    if (count > 0) {
        job(0);
    }
    std::unique_lock<std::mutex> guard(lock);
    done.wait(guard, [this] { return running == 0; });
    work = nullptr;
}

void CRunnerPool::Serve(std::size_t index) {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> guard(lock);
    // A runner made during a round takes part in it.
    seen = round - 1;
    for (;;) {
        wake.wait(guard, [&] { return quitting || round != seen; });
        if (quitting) {
            return;
        }
        seen = round;
        if (index > active) {
            continue;
        }
        const std::function<void(std::size_t)>* job = work;
        guard.unlock();
        (*job)(index);
        guard.lock();
        if (--running == 0) {
            done.notify_one();
        }
    }
}

void CRunnerPool::Shutdown() noexcept {
    std::vector<std::thread> ending;
    {
        const std::lock_guard<std::mutex> guard(lock);
        quitting = true;
        ending.swap(threads);
    }
    wake.notify_all();
    for (std::thread& thread : ending) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

}  // namespace talbo::tesk::vorta
