// fleet_test_bench [--devices N] [--rounds N]
//
// The communication test of 1000 simulated devices through the engine, one device at a time
// and 16 at a time, alternating in the same run against the same vorta-devsim. Prints the
// median times, their ratio and the CPU time of the engine's host process and of the
// simulator for each, so that the figures can be read against the machine's cores; exits 3
// when 16 at a time takes more than half the time of one at a time.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FleetBench.h"

namespace fs = std::filesystem;

namespace {

constexpr double kMaxRatio = 0.5;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 1000;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--devices") == 0) {
            devices = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    const fs::path dir =
        fs::temp_directory_path() / ("vorta-fleet-test-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::printf("load average before: %s\n", fleet_bench::LoadAverage().c_str());
    fleet_bench::Simulator sim(dir, devices, 0);
    if (!sim.Started()) {
        std::fprintf(stderr, "vorta-devsim did not start\n");
        return 1;
    }
    const std::vector<std::string> hosts = fleet_bench::DeviceNames(1, devices);
    struct Series {
        int atATime;
        std::vector<double> seconds, engineCpu, simulatorCpu;
    } series[] = {{1, {}, {}, {}}, {16, {}, {}, {}}};
    for (int round = 0; round < rounds; ++round) {
        for (Series& s : series) {
            const double simBefore = sim.CpuSeconds();
            const fleet_bench::JobResult job =
                fleet_bench::RunEngineJob(sim.Proxy(), hosts, s.atATime, "");
            const double simAfter = sim.CpuSeconds();
            if (job.seconds < 0 || job.succeeded != devices) {
                std::fprintf(stderr, "%d at a time: %d of %d devices passed\n", s.atATime,
                             job.succeeded, devices);
                return 1;
            }
            s.seconds.push_back(job.seconds);
            s.engineCpu.push_back(job.cpuSeconds);
            s.simulatorCpu.push_back(simAfter - simBefore);
        }
    }
    fs::remove_all(dir);
    for (const Series& s : series) {
        std::printf(
            "test of %d devices, %2d at a time: %.2f s (median of %d); CPU: engine host %.2f s, "
            "vorta-devsim %.2f s\n",
            devices, s.atATime, Median(s.seconds), rounds, Median(s.engineCpu),
            Median(s.simulatorCpu));
    }
    const double ratio = Median(series[1].seconds) / Median(series[0].seconds);
    std::printf("ratio 16/1: %.2f (target at most %.1f)\n", ratio, kMaxRatio);
    std::printf("load average after: %s\n", fleet_bench::LoadAverage().c_str());
    return ratio <= kMaxRatio ? 0 : 3;
}
