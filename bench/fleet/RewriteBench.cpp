// fleet_rewrite_bench [--devices N] [--rounds N]
//
// The rewrite of 64 simulated devices with the carried image through the engine, all 64 at
// once, against the rewrite of one device alone, alternating in the same run against the same
// vorta-devsim. Devices are gone for 2000 ms after each restart; the engine first waits
// 2500 ms, then retries every 500 ms. Prints the median times, their ratio (one after the other
// would be about 64), the engine host's peak memory against the image's size, and the CPU time
// of the engine's host process and of the simulator; exits 3 when a target is missed.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FleetBench.h"

namespace fs = std::filesystem;

namespace {

constexpr double kMaxRatio = 4.0;
constexpr long kMaxExtraKiB = 64 * 1024;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 64;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--devices") == 0) {
            devices = std::clamp(std::atoi(argv[i + 1]), 1, 64);
        } else if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    ::setenv("VORTA_REBOOT_FIRST_WAIT_MS", "2500", 1);
    ::setenv("VORTA_REBOOT_RETRY_WAIT_MS", "500", 1);
    ::setenv("VORTA_REBOOT_RETRY_MAX", "20", 1);
    const long imageKiB = static_cast<long>(fs::file_size(VORTA_CARRIED_IMAGE_PATH) / 1024);
    const fs::path dir =
        fs::temp_directory_path() / ("vorta-fleet-rewrite-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::printf("load average before: %s\n", fleet_bench::LoadAverage().c_str());
    fleet_bench::Simulator sim(dir, devices + 1, 2000);
    if (!sim.Started()) {
        std::fprintf(stderr, "vorta-devsim did not start\n");
        return 1;
    }
    struct Series {
        const char* name;
        std::vector<std::string> hosts;
        int atATime;
        std::vector<double> seconds, engineCpu, simulatorCpu;
        long peakKiB = 0;
    } series[] = {
        {"one device alone", fleet_bench::DeviceNames(devices + 1, 1), 1, {}, {}, {}},
        {"all at once", fleet_bench::DeviceNames(1, devices), devices, {}, {}, {}},
    };
    for (int round = 0; round < rounds; ++round) {
        for (Series& s : series) {
            const double simBefore = sim.CpuSeconds();
            const fleet_bench::JobResult job = fleet_bench::RunEngineJob(
                sim.Proxy(), s.hosts, s.atATime, VORTA_CARRIED_IMAGE_PATH);
            const double simAfter = sim.CpuSeconds();
            if (job.seconds < 0 || job.succeeded != job.devices) {
                std::fprintf(stderr, "%s: %d of %d devices rewritten\n", s.name, job.succeeded,
                             job.devices);
                return 1;
            }
            s.seconds.push_back(job.seconds);
            s.engineCpu.push_back(job.cpuSeconds);
            s.simulatorCpu.push_back(simAfter - simBefore);
            s.peakKiB = std::max(s.peakKiB, job.peakKiB);
        }
    }
    fs::remove_all(dir);
    for (const Series& s : series) {
        std::printf(
            "rewrite, %s (%zu device(s), %d at a time): %.2f s (median of %d); peak %.1f MiB "
            "(image %.1f MiB); CPU: engine host %.2f s, vorta-devsim %.2f s\n",
            s.name, s.hosts.size(), s.atATime, Median(s.seconds), rounds, s.peakKiB / 1024.0,
            imageKiB / 1024.0, Median(s.engineCpu), Median(s.simulatorCpu));
    }
    const double ratio = Median(series[1].seconds) / Median(series[0].seconds);
    const long extraKiB = series[1].peakKiB - imageKiB;
    std::printf(
        "ratio all at once / one alone: %.2f (target at most %.1f; one after the other "
        "would be about %d)\n",
        ratio, kMaxRatio, devices);
    std::printf("peak above the image, all at once: %.1f MiB (target at most 64 MiB)\n",
                extraKiB / 1024.0);
    std::printf("load average after: %s\n", fleet_bench::LoadAverage().c_str());
    return ratio <= kMaxRatio && extraKiB <= kMaxExtraKiB ? 0 : 3;
}
