// Loading the carried update image against md5sum over the same file.
//
// Every load runs in a fresh process (this program started again with --child), the way the
// tool loads an image once per run: the process loads the engine library with dlopen, takes the
// model from getVortaUpdateModel and times LoadUpdateImage; it also reports how far its peak
// resident memory rose above its resident memory just before the load. Loads and md5sum runs
// alternate so that other work on the machine hits both alike; the medians are compared.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/IniDocument.h"
#include "common/Utf8.h"
#include "engine/interface/VortaFWUpdateModule.h"
#include "engine/model/CBasicRCXFileParser.h"

namespace tv = talbo::tesk::vorta;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kExitTargetMissed = 3;

struct Timing {
    double seconds = 0;     // wall clock
    double cpuSeconds = 0;  // user and system time of all threads
};

double CpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double SelfCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return -1;
}

// The child: one load, printed as "wall-seconds cpu-seconds peak-KiB-above-baseline".
int ChildLoad(const std::string& module, const std::string& image, bool direct) {
    const std::wstring path = tv::common::BytesToWide(image);
    bool ok = false;
    long base = 0;
    Clock::time_point start;
    Clock::time_point end;
    double cpuStart = 0;
    double cpuEnd = 0;
    if (direct) {
        // The parser alone, for builds whose model is not there yet.
        tv::CBasicRCXFileParser parser;
        tv::CUpdateImagePartList parts;
        base = StatusKiB("VmRSS");
        cpuStart = SelfCpuSeconds();
        start = Clock::now();
        ok = parser.Parse(path, parts) == 0;
        end = Clock::now();
        cpuEnd = SelfCpuSeconds();
    } else {
        void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "dlopen: %s\n", ::dlerror());
            return 1;
        }
        auto get =
            reinterpret_cast<tv::GetVortaUpdateModelFn>(::dlsym(handle, "getVortaUpdateModel"));
        tv::CUpdateModelExport* model = get != nullptr ? get() : nullptr;
        if (model == nullptr) {
            std::fprintf(stderr, "getVortaUpdateModel gave no model (try --direct)\n");
            return 1;
        }
        base = StatusKiB("VmRSS");
        cpuStart = SelfCpuSeconds();
        start = Clock::now();
        ok = model->LoadUpdateImage(path.c_str());
        end = Clock::now();
        cpuEnd = SelfCpuSeconds();
    }
    if (!ok) {
        std::fprintf(stderr, "the image did not load\n");
        return 1;
    }
    const long peak = StatusKiB("VmHWM");
    std::printf("%.6f %.6f %ld\n", std::chrono::duration<double>(end - start).count(),
                cpuEnd - cpuStart, peak - base);
    return 0;
}

// Runs argv with stdout captured (or discarded), timing it; nullopt when it fails.
std::optional<std::string> Run(const std::vector<std::string>& args, bool keepOutput,
                               Timing* timing = nullptr) {
    const Clock::time_point start = Clock::now();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return std::nullopt;
    }
    if (child == 0) {
        ::dup2(keepOutput ? pipeFds[1] : ::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (timing != nullptr) {
        timing->seconds = std::chrono::duration<double>(Clock::now() - start).count();
        timing->cpuSeconds = CpuSeconds(usage);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return output;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// [Z_1] 5 of the image's header: the number of block bytes.
long long BlockBytes(const std::string& image) {
    std::ifstream in(image, std::ios::binary);
    std::string header;
    std::getline(in, header, '\xFF');
    const auto total =
        tv::common::IniDocument::Parse(tv::common::BytesToWide(header)).Get(L"Z_1", L"5");
    return total ? std::atoll(tv::common::AsciiToNarrow(*total).c_str()) : -1;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line + "\n";
}

int Usage() {
    std::fputs(
        "Usage: image_load_bench --module VortaFWUpdateModule.so --image IMAGE [--runs N]\n"
        "                        [--direct]\n"
        "  --runs N   loads and md5sum runs to take the median of (default 7)\n"
        "  --direct   load with the engine's parser linked in instead of the library's model\n"
        "Exit status: 0 targets met, 3 a target missed, 1 the measurement failed.\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string module;
    std::string image;
    int runs = 7;
    bool direct = false;
    bool child = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--module" && i + 1 < argc) {
            module = argv[++i];
        } else if (arg == "--image" && i + 1 < argc) {
            image = argv[++i];
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--direct") {
            direct = true;
        } else if (arg == "--child") {
            child = true;
        } else {
            return Usage();
        }
    }
    if (image.empty() || (module.empty() && !direct)) {
        return Usage();
    }
    if (child) {
        return ChildLoad(module, image, direct);
    }

    const long long blockBytes = BlockBytes(image);
    std::vector<std::string> childArgs = {"/proc/self/exe", "--child", "--image", image};
    if (direct) {
        childArgs.push_back("--direct");
    } else {
        childArgs.insert(childArgs.end(), {"--module", module});
    }
    // One run of each first, so that both read the file from the page cache.
    if (!Run({"md5sum", image}, false) || !Run(childArgs, true)) {
        std::fprintf(stderr, "warm-up failed\n");
        return 1;
    }

    std::vector<double> md5sumSeconds;
    std::vector<double> md5sumCpu;
    std::vector<double> loadSeconds;
    std::vector<double> loadCpu;
    long peakAboveBase = 0;
    std::printf("run  md5sum wall/cpu ms   load wall/cpu ms   peak above base MiB\n");
    for (int i = 0; i < runs; ++i) {
        Timing md5sumRun;
        if (!Run({"md5sum", image}, false, &md5sumRun)) {
            std::fprintf(stderr, "md5sum failed\n");
            return 1;
        }
        const std::optional<std::string> line = Run(childArgs, true);
        Timing loadRun;
        long peakKiB = 0;
        if (!line || std::sscanf(line->c_str(), "%lf %lf %ld", &loadRun.seconds,
                                 &loadRun.cpuSeconds, &peakKiB) != 3) {
            std::fprintf(stderr, "load failed\n");
            return 1;
        }
        std::printf("%3d  %7.1f / %6.1f     %7.1f / %6.1f   %8.1f\n", i + 1,
                    md5sumRun.seconds * 1000, md5sumRun.cpuSeconds * 1000, loadRun.seconds * 1000,
                    loadRun.cpuSeconds * 1000, static_cast<double>(peakKiB) / 1024);
        md5sumSeconds.push_back(md5sumRun.seconds);
        md5sumCpu.push_back(md5sumRun.cpuSeconds);
        loadSeconds.push_back(loadRun.seconds);
        loadCpu.push_back(loadRun.cpuSeconds);
        peakAboveBase = std::max(peakAboveBase, peakKiB);
    }

    const double md5sum = Median(md5sumSeconds);
    const double load = Median(loadSeconds);
    const double ratio = load / md5sum;
    const double aboveBlocksMiB =
        (static_cast<double>(peakAboveBase) * 1024.0 - static_cast<double>(blockBytes)) /
        (1024.0 * 1024.0);
    std::printf("image              %s (%lld block bytes)\n", image.c_str(), blockBytes);
    std::printf("loader             %s\n",
                direct ? "parser linked in (--direct)" : "getVortaUpdateModel()->LoadUpdateImage");
    std::printf("cores              %u\n", std::thread::hardware_concurrency());
    std::printf("runs               %d (medians)\n", runs);
    std::printf("load average       %s", LoadAverage().c_str());
    std::printf("md5sum             %.1f ms (cpu %.1f ms)\n", md5sum * 1000,
                Median(md5sumCpu) * 1000);
    std::printf("load               %.1f ms (cpu %.1f ms)\n", load * 1000, Median(loadCpu) * 1000);
    std::printf("ratio load/md5sum  %.2f (target at most 0.75)\n", ratio);
    std::printf("peak RSS above blocks %.1f MiB (target at most 24 MiB; worst run)\n",
                aboveBlocksMiB);
    const bool met = ratio <= 0.75 && aboveBlocksMiB <= 24.0;
    std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    return met ? 0 : kExitTargetMissed;
}
