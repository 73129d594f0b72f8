// value_memory_bench [--devices N] [--jobs N] [--at-a-time N] [--progress-text] [--no-values]
//
// Communication tests in a row over 2000 simulated devices (16 at a time) in one engine host,
// polled as the wizard polls: every 250 ms the progress of every device not yet ended, the
// "phase" of those still running, and "modelname" and "version" once a device shows 100. Every
// text is copied at once, as hosts must. After each job has ended (the job state is idle again)
// the host's resident set (VmRSS) and its heap (bytes the allocator has handed out, and bytes it
// holds free) are taken. Prints them for the first job, every tenth and the last, and the growth
// of the resident set from the end of the first job to the end of the last; exits 3 when it
// grew by more than 1 MiB, 1 when the run itself failed.
//
// --progress-text reads the progress through the device record (GetValue "progress"), as the
// wizard's rows do once they hold a record, instead of GetProgress; --no-values reads no text
// at all, which separates what lent texts cost from everything else a job leaves behind.

#include <dlfcn.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "FleetBench.h"
#include "common/Utf8.h"
#include "engine/interface/VortaFWUpdateModule.h"

namespace fs = std::filesystem;
namespace tv = talbo::tesk::vorta;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kMaxGrowthKiB = 1024;
constexpr auto kPollInterval = std::chrono::milliseconds(250);
constexpr auto kJobDeadline = std::chrono::minutes(5);

struct Options {
    int devices = 2000;
    int jobs = 50;
    int atATime = 16;
    bool progressText = false;
    bool values = true;
};

// The host's memory at one moment, in KiB.
struct MemorySample {
    long residentKiB = -1;
    long heapInUseKiB = -1;  // handed out by malloc, all arenas and mapped blocks included
    long heapFreeKiB = -1;   // held by malloc but free: what fragmentation keeps resident
};

MemorySample SampleMemory() {
    MemorySample sample;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            sample.residentKiB = std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    const struct mallinfo2 heap = ::mallinfo2();
    sample.heapInUseKiB = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
    sample.heapFreeKiB = static_cast<long>(heap.fordblks / 1024);
    return sample;
}

void PrintSample(int job, const MemorySample& sample, double seconds) {
    std::printf(
        "after job %2d: resident %6ld KiB, heap in use %6ld KiB, heap free %5ld KiB (%.2f s)\n",
        job, sample.residentKiB, sample.heapInUseKiB, sample.heapFreeKiB, seconds);
    std::fflush(stdout);
}

// What the host keeps of a device between polls.
struct PolledDevice {
    std::wstring host;
    tv::CDevInfoIF* info = nullptr;
    bool ended = false;
    std::wstring modelName, version, phase;  // the host's own copies
};

std::wstring CopyOf(tv::CDevInfoIF* info, const wchar_t* key) {
    const wchar_t* text = info->GetValue(key);
    return text != nullptr ? std::wstring(text) : std::wstring();
}

// One poll of every device not yet ended; true when all have ended. Counts devices that ended
// with 100 into passed.
bool PollOnce(tv::CUpdateModelExport& model, std::vector<PolledDevice>& devices,
              const Options& options, int& passed) {
    bool allEnded = true;
    for (PolledDevice& device : devices) {
        if (device.ended) {
            continue;
        }
        const int progress = options.progressText
                                 ? static_cast<int>(std::wcstol(
                                       CopyOf(device.info, L"progress").c_str(), nullptr, 10))
                                 : model.GetProgress(device.host.c_str());
        if (progress == 100) {
            device.ended = true;
            ++passed;
            if (options.values) {
                device.modelName = CopyOf(device.info, L"modelname");
                device.version = CopyOf(device.info, L"version");
            }
        } else if (progress < 0) {
            device.ended = true;
        } else {
            allEnded = false;
            if (options.values) {
                device.phase = CopyOf(device.info, L"phase");
            }
        }
    }
    return allEnded;
}

// Runs every job in this process as the engine's host; returns the exit code.
int RunHost(const std::string& proxy, const Options& options) {
    ::setenv("http_proxy", proxy.c_str(), 1);
    ::unsetenv("no_proxy");
    void* module = ::dlopen(VORTA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    const auto resolve = [module](const char* name) {
        return module != nullptr ? ::dlsym(module, name) : nullptr;
    };
    auto* getModel = reinterpret_cast<tv::GetVortaUpdateModelFn>(resolve(tv::kModelEntryName));
    auto* getController =
        reinterpret_cast<tv::GetVortaUpdateControllerFn>(resolve(tv::kControllerEntryName));
    auto* getSettings =
        reinterpret_cast<tv::GetVortaUpdateSettingsFn>(resolve(tv::kSettingsEntryName));
    tv::CUpdateModelExport* model = getModel != nullptr ? getModel() : nullptr;
    tv::CUpdateControllerExport* controller = getController != nullptr ? getController() : nullptr;
    tv::CUpdateSettingsExport* settings = getSettings != nullptr ? getSettings() : nullptr;
    if (model == nullptr || controller == nullptr || settings == nullptr ||
        !settings->SetDevicesAtATime(options.atATime)) {
        std::fprintf(stderr, "the engine did not load\n");
        return 1;
    }
    std::vector<PolledDevice> devices;
    for (const std::string& host : fleet_bench::DeviceNames(1, options.devices)) {
        PolledDevice& device = devices.emplace_back();
        device.host = tv::common::BytesToWide(host);
        if (!model->AddDevice(device.host.c_str()) ||
            (device.info = model->GetDeviceInfo(device.host.c_str())) == nullptr) {
            std::fprintf(stderr, "%s was not registered\n", host.c_str());
            return 1;
        }
    }

    MemorySample first;
    MemorySample last;
    for (int job = 1; job <= options.jobs; ++job) {
        for (PolledDevice& device : devices) {
            device.ended = false;
        }
        const auto start = Clock::now();
        if (!controller->StartCommunicationTest()) {
            std::fprintf(stderr, "job %d did not start\n", job);
            return 1;
        }
        int passed = 0;
        bool ended = false;
        while (!ended && Clock::now() - start < kJobDeadline) {
            std::this_thread::sleep_for(kPollInterval);
            ended = PollOnce(*model, devices, options, passed);
        }
        while (ended && settings->GetJobState() != tv::EJobState::Idle) {
            if (Clock::now() - start >= kJobDeadline) {
                ended = false;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!ended || passed != options.devices) {
            std::fprintf(stderr, "job %d: %d of %d devices passed%s\n", job, passed,
                         options.devices, ended ? "" : " before the deadline");
            return 1;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        last = SampleMemory();
        if (job == 1) {
            first = last;
        }
        if (job == 1 || job % 10 == 0 || job == options.jobs) {
            PrintSample(job, last, seconds);
        }
    }
    const long growthKiB = last.residentKiB - first.residentKiB;
    std::printf(
        "%d communication tests of %d devices, %d at a time: resident set %ld KiB after the "
        "first, %ld KiB after the last, growth %ld KiB (%+.1f KiB per job; target at most %ld "
        "KiB)\n",
        options.jobs, options.devices, options.atATime, first.residentKiB, last.residentKiB,
        growthKiB, options.jobs > 1 ? static_cast<double>(growthKiB) / (options.jobs - 1) : 0.0,
        kMaxGrowthKiB);
    std::fflush(stdout);
    return growthKiB <= kMaxGrowthKiB ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--devices") == 0 && hasValue) {
            options.devices = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--jobs") == 0 && hasValue) {
            options.jobs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--at-a-time") == 0 && hasValue) {
            options.atATime = std::clamp(std::atoi(argv[++i]), 1, tv::kMaxDevicesAtATime);
        } else if (std::strcmp(argv[i], "--progress-text") == 0) {
            options.progressText = true;
        } else if (std::strcmp(argv[i], "--no-values") == 0) {
            options.values = false;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    const fs::path dir =
        fs::temp_directory_path() / ("vorta-value-memory-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::printf("load average before: %s\n", fleet_bench::LoadAverage().c_str());
    std::fflush(stdout);
    int exitCode = 1;
    {
        fleet_bench::Simulator sim(dir, options.devices, 0);
        if (!sim.Started()) {
            std::fprintf(stderr, "vorta-devsim did not start\n");
        } else {
            // The host runs in a child of its own, so that nothing of this process's start-up
            // shows in its memory.
            const pid_t child = ::fork();
            if (child == 0) {
                const int code = RunHost(sim.Proxy(), options);
                std::fflush(stdout);
                std::_Exit(code);  // skips unloading the engine: the figures are taken already
            }
            int status = 0;
            if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
                exitCode = WEXITSTATUS(status);
            }
        }
    }
    fs::remove_all(dir);
    std::printf("load average after: %s\n", fleet_bench::LoadAverage().c_str());
    return exitCode;
}
