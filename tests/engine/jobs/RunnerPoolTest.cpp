#include "engine/jobs/CRunnerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace talbo::tesk::vorta {
namespace {

// One round: which thread ran each index, and how many calls there were.
struct SRound {
    std::vector<std::thread::id> threadOf;
    int calls = 0;
};

SRound RunRound(CRunnerPool& pool, std::size_t count) {
    SRound round;
    round.threadOf.resize(count);
    std::mutex lock;
    pool.Run(count, [&](std::size_t index) {
        const std::lock_guard<std::mutex> guard(lock);
        round.threadOf.at(index) = std::this_thread::get_id();
        ++round.calls;
    });
    return round;
}

TEST(RunnerPool, RunnersStayFromOneRoundToTheNextAndOnlyTheAskedOnesRun) {
    CRunnerPool pool;
    const SRound four = RunRound(pool, 4);
    EXPECT_EQ(four.calls, 4);
    EXPECT_EQ(four.threadOf[0], std::this_thread::get_id());
    EXPECT_EQ(std::set<std::thread::id>(four.threadOf.begin(), four.threadOf.end()).size(), 4U);

    // A smaller round leaves the other runners asleep; a later one finds them again.
    const SRound two = RunRound(pool, 2);
    EXPECT_EQ(two.calls, 2);
    EXPECT_EQ(two.threadOf[1], four.threadOf[1]);
    const SRound again = RunRound(pool, 4);
    EXPECT_EQ(again.threadOf, four.threadOf);
    EXPECT_EQ(pool.Size(), 3U);

    pool.Shutdown();
    const SRound alone = RunRound(pool, 4);
    EXPECT_EQ(alone.calls, 1);
    EXPECT_EQ(pool.Size(), 0U);
}

TEST(RunnerPool, WorkSharedThroughWhatItTakesIsDoneOnceOverManyRounds) {
    CRunnerPool pool;
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> next{0};
        std::vector<std::atomic<int>> done(64);
        pool.Run(1 + round % 8, [&](std::size_t) {
            for (int item = next++; item < 64; item = next++) {
                ++done[static_cast<std::size_t>(item)];
            }
        });
        for (const std::atomic<int>& item : done) {
            ASSERT_EQ(item.load(), 1) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace talbo::tesk::vorta
