#pragma once
// What the fleet benchmarks share: a vorta-devsim of generated devices, an engine host in a
// child process that runs one job over many devices, and the CPU time of both.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fleet_bench {

// A running vorta-devsim in proxy mode on a free loopback port; stopped when destroyed.
class Simulator {
public:
    // devices generated devices device-1.invalid ... device-N.invalid.
    Simulator(const std::filesystem::path& folder, int devices, int restartMs);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool Started() const { return port != 0; }
    int Port() const { return port; }
    std::string Proxy() const { return "http://127.0.0.1:" + std::to_string(port); }
    // User and system CPU time the simulator has used so far, in seconds.
    double CpuSeconds() const;
    // Its resident set now, in KiB (-1 when unknown).
    long ResidentKiB() const;

private:
    pid_t pid = -1;
    int port = 0;
};

// Host names of generated devices first to first + count - 1.
std::vector<std::string> DeviceNames(int first, int count);

struct JobResult {
    double seconds = -1;     // from the job's start until every device has ended
    double cpuSeconds = -1;  // user and system CPU time of the whole child
    long peakKiB = -1;       // the child's peak resident set
    int succeeded = 0;       // devices that ended with 100
    int devices = 0;
};

// In a fresh child process, as a host would: load the engine, set the devices at a time,
// register the devices, and (when imagePath is not empty) load the image; then time one job
// over all devices: the communication test, or the rewrite with the policy "update" when an
// image is given. The restart timings come from the environment (VORTA_REBOOT_*).
JobResult RunEngineJob(const std::string& proxy, const std::vector<std::string>& hosts,
                       int devicesAtATime, const std::string& imagePath);

// The machine's load average over the last minute, as /proc/loadavg has it.
std::string LoadAverage();

}  // namespace fleet_bench
