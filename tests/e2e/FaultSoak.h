#pragma once
// The fault soak: many simulated devices, each with faults drawn at random (from a seed) from
// the simulator's whole catalogue, run through a communication test and a rewrite by the real
// engine. Afterwards every device's outcome is checked against what the simulator's event log
// says reached it. Shared by the end-to-end test and the benchmark.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace e2e {

// The restart timings the soak gives the engine and the simulator. A device's run may take
// at most BoundMs: every restart wait it can go through at its longest, plus the delays and
// stalls injected into it, plus a fixed slack for the exchanges themselves.
struct SoakTimings {
    int firstWaitMs = 100;  // VORTA_REBOOT_FIRST_WAIT_MS
    int retryWaitMs = 50;   // VORTA_REBOOT_RETRY_WAIT_MS
    int retryMax = 8;       // VORTA_REBOOT_RETRY_MAX
    int restartMs = 60;     // the simulator's restart time; shorter than the first wait
    // Two plan rows end in a restart wait, each may start twice, and the version read after
    // the last part may need one more wait.
    int restartWaitsPerRun = 5;
    int slackMs = 5000;

    long LongestRestartWaitMs() const {
        return static_cast<long>(firstWaitMs) + static_cast<long>(retryMax) * retryWaitMs;
    }
};

struct SoakDevice {
    std::string host;
    nlohmann::json fields;  // the device's entry of the fleet file, faults included
    long injectedMs = 0;    // sum of the delays and stalls of its faults

    long BoundMs(const SoakTimings& timings) const {
        return timings.restartWaitsPerRun * timings.LongestRestartWaitMs() + injectedMs +
               timings.slackMs;
    }
};

struct SoakScenario {
    std::uint64_t seed = 0;
    SoakTimings timings;
    std::vector<SoakDevice> devices;
};

// The same seed always gives the same fleet.
SoakScenario DrawSoakScenario(std::uint64_t seed, int deviceCount);

// VORTA_SOAK_SEED when it holds a decimal number, else a fresh random seed.
std::uint64_t SoakSeed();

struct SoakReport {
    std::uint64_t seed = 0;
    int devices = 0;
    double testSeconds = 0;    // communication test of the whole fleet
    double updateSeconds = 0;  // rewrite of the whole fleet
    double engineCpuSeconds = 0;
    double simulatorCpuSeconds = 0;
    std::map<int, int> byProgress;  // final progress -> devices
    int firmwareReplaced = 0;       // devices that run the image's version afterwards
    long longestSpanMs = 0;
    double highestSpanShare = 0;  // largest span / bound of a device
    std::vector<std::string> failures;
};

// Starts the simulator with the scenario's fleet, points the engine (loaded in this process)
// at it, runs the communication test and the rewrite and checks every device. Never throws;
// a set-up that fails is reported as a failure.
SoakReport RunFaultSoak(const SoakScenario& scenario);

}  // namespace e2e
