// fault_soak_bench [--devices N] [--seed S]
//
// Runs the fault soak with N simulated devices (default 200) through the engine library loaded
// in this process: a communication test, then a rewrite of the whole fleet. Prints the seed, the
// wall time of both jobs, the devices per outcome, the CPU time of this process (the engine's
// host) and of the simulator, and every invariant that did not hold; exits 3 when one did not.
// The seed is random unless given here or in VORTA_SOAK_SEED.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FaultSoak.h"

namespace {

bool ReadNumber(const char* text, std::uint64_t& value) {
    const std::string_view view(text);
    auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    return error == std::errc() && end == view.data() + view.size();
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t devices = 200;
    std::uint64_t seed = e2e::SoakSeed();
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        std::uint64_t* target = option == "--devices" ? &devices
                                : option == "--seed"  ? &seed
                                                      : nullptr;
        if (target == nullptr || i + 1 >= argc || !ReadNumber(argv[++i], *target) ||
            (target == &devices && (devices < 1 || devices > 250))) {
            std::fprintf(stderr, "usage: fault_soak_bench [--devices 1..250] [--seed S]\n");
            return 2;
        }
    }
    std::printf("fault soak: %llu devices, seed %llu (replay with --seed %llu)\n",
                static_cast<unsigned long long>(devices), static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    const e2e::SoakScenario scenario = e2e::DrawSoakScenario(seed, static_cast<int>(devices));
    const e2e::SoakReport report = e2e::RunFaultSoak(scenario);

    std::printf("communication test  %8.2f s\n", report.testSeconds);
    std::printf("rewrite             %8.2f s\n", report.updateSeconds);
    std::printf("engine host CPU     %8.2f s (both jobs)\n", report.engineCpuSeconds);
    std::printf("simulator CPU       %8.2f s (whole run)\n", report.simulatorCpuSeconds);
    std::printf("longest device      %8.2f s (%.0f %% of its bound at most)\n",
                static_cast<double>(report.longestSpanMs) / 1000, report.highestSpanShare * 100);
    std::printf("firmware replaced   %5d devices\n", report.firmwareReplaced);
    std::printf("devices per outcome:");
    for (const auto& [progress, count] : report.byProgress) {
        std::printf(" %d: %d,", progress, count);
    }
    std::printf("\n");
    for (const std::string& failure : report.failures) {
        std::printf("FAILED %s\n", failure.c_str());
    }
    std::printf("%zu invariant failure(s)\n", report.failures.size());
    return report.failures.empty() ? 0 : 3;
}
