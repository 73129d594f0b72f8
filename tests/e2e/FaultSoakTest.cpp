// Forty simulated devices with random faults through the real engine: no device may show a
// success that the simulator does not confirm, none may end without a result, and none may take
// longer than its timings and injected delays allow. The seed is printed for replay
// (VORTA_SOAK_SEED).

#include <gtest/gtest.h>

#include <cstdio>

#include "FaultSoak.h"

namespace {

constexpr int kSoakDevices = 40;

TEST(FaultSoak, EveryDeviceEndsTruthfullyAndInTime) {
    const std::uint64_t seed = e2e::SoakSeed();
    std::printf("fault soak: seed %llu (replay with VORTA_SOAK_SEED=%llu)\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
    const e2e::SoakReport report = e2e::RunFaultSoak(e2e::DrawSoakScenario(seed, kSoakDevices));
    std::string outcomes;
    for (const auto& [progress, count] : report.byProgress) {
        outcomes += " " + std::to_string(progress) + ":" + std::to_string(count);
    }
    std::printf("fault soak: test %.1f s, rewrite %.1f s, outcomes%s\n", report.testSeconds,
                report.updateSeconds, outcomes.c_str());
    for (const std::string& failure : report.failures) {
        ADD_FAILURE() << failure;
    }
    EXPECT_TRUE(report.failures.empty()) << report.failures.size() << " failure(s) with seed "
                                         << seed << "; replay with VORTA_SOAK_SEED=" << seed;
}

}  // namespace
