// fleet_batch_bench [--devices N]
//
// The batch command line itself: the real tool rewrites 64 simulated devices at once
// (VortaFWUpdateTool @LIST -j64) and, in the same run, one device alone, against the same
// vorta-devsim (restarts 2000 ms; first wait 2500 ms, retries every 500 ms). Prints each run's
// time, the tool process's peak memory against the carried image's size, and the CPU time of
// the tool and of the simulator; exits 3 when the batch's peak exceeds the image plus 64 MiB.
// Then the same 64 at once as a staged rollout over devices of their own
// (--waves 1,10%,100%: 1, 6 and 57 devices), against the one device alone.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "FleetBench.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kMaxExtraKiB = 64 * 1024;

struct ToolRun {
    int exitStatus = -1;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
};

ToolRun RunTool(const fs::path& tool, const fs::path& dir, const std::string& proxy,
                const std::vector<std::string>& arguments) {
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("http_proxy", proxy.c_str(), 1);
        ::unsetenv("no_proxy");
        ::setenv("TMPDIR", dir.c_str(), 1);
        ::setenv("LANG", "C.UTF-8", 1);
        ::unsetenv("LC_ALL");
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        std::vector<char*> argv{const_cast<char*>(tool.c_str())};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    ToolRun run;
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 64;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--devices") == 0) {
            devices = std::clamp(std::atoi(argv[i + 1]), 1, 64);
        }
    }
    ::setenv("VORTA_REBOOT_FIRST_WAIT_MS", "2500", 1);
    ::setenv("VORTA_REBOOT_RETRY_WAIT_MS", "500", 1);
    ::setenv("VORTA_REBOOT_RETRY_MAX", "20", 1);
    const long imageKiB = static_cast<long>(fs::file_size(VORTA_CARRIED_IMAGE_PATH) / 1024);
    const fs::path dir =
        fs::temp_directory_path() / ("vorta-fleet-batch-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // A copy in a folder of its own, so that its result log lands there.
    const fs::path tool = dir / "VortaFWUpdateTool";
    fs::copy_file(VORTA_TOOL_PATH, tool);
    std::ofstream list(dir / "fleet.txt");
    for (const std::string& host : fleet_bench::DeviceNames(1, devices)) {
        list << host << "\n";
    }
    list.close();
    // Fresh devices for the rollout: rewritten ones would be left alone.
    std::ofstream waveList(dir / "waves.txt");
    for (const std::string& host : fleet_bench::DeviceNames(devices + 2, devices)) {
        waveList << host << "\n";
    }
    waveList.close();
    std::printf("load average before: %s\n", fleet_bench::LoadAverage().c_str());
    fleet_bench::Simulator sim(dir, 2 * devices + 1, 2000);
    if (!sim.Started()) {
        std::fprintf(stderr, "vorta-devsim did not start\n");
        return 1;
    }
    const struct {
        const char* name;
        std::vector<std::string> arguments;
    } runs[] = {
        {"one device", {fleet_bench::DeviceNames(devices + 1, 1).front()}},
        {"batch", {"@" + (dir / "fleet.txt").string(), "-j" + std::to_string(devices)}},
        {"rollout in waves",
         {"@" + (dir / "waves.txt").string(), "-j" + std::to_string(devices), "--waves",
          "1,10%,100%"}},
    };
    long batchPeakKiB = 0;
    bool allRewritten = true;
    std::vector<double> seconds;
    for (const auto& r : runs) {
        const double simBefore = sim.CpuSeconds();
        const ToolRun run = RunTool(tool, dir, sim.Proxy(), r.arguments);
        const double simCpu = sim.CpuSeconds() - simBefore;
        std::printf(
            "tool, %s: exit %d, %.2f s; peak %.1f MiB (image %.1f MiB, %+.1f MiB); CPU: "
            "tool %.2f s, vorta-devsim %.2f s\n",
            r.name, run.exitStatus, run.seconds, run.peakKiB / 1024.0, imageKiB / 1024.0,
            (run.peakKiB - imageKiB) / 1024.0, run.cpuSeconds, simCpu);
        allRewritten = allRewritten && run.exitStatus == 0;
        batchPeakKiB = std::max(batchPeakKiB, run.peakKiB);
        seconds.push_back(run.seconds);
    }
    fs::remove_all(dir);
    const long extraKiB = batchPeakKiB - imageKiB;
    std::printf("batch of %d at once: peak above the image %.1f MiB (target at most 64 MiB)\n",
                devices, extraKiB / 1024.0);
    std::printf(
        "batch / one device: %.2f (target at most 4); rollout in waves / one device: %.2f "
        "(target at most 3)\n",
        seconds[1] / seconds[0], seconds[2] / seconds[0]);
    std::printf("load average after: %s\n", fleet_bench::LoadAverage().c_str());
    if (!allRewritten) {
        return 1;
    }
    return extraKiB <= kMaxExtraKiB ? 0 : 3;
}
