#include "FleetBench.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/Utf8.h"
#include "engine/interface/VortaFWUpdateModule.h"

namespace fs = std::filesystem;
namespace tv = talbo::tesk::vorta;
using Clock = std::chrono::steady_clock;

namespace fleet_bench {

Simulator::Simulator(const fs::path& folder, int devices, int restartMs) {
    const fs::path portFile = folder / "devsim.port";
    fs::remove(portFile);
    pid = ::fork();
    if (pid == 0) {
        const std::string count = std::to_string(devices);
        const std::string restart = std::to_string(restartMs);
        const std::string portArg = portFile.string();
        // Its summary of every device at exit would bury the figures.
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDERR_FILENO);
        ::execl(VORTA_DEVSIM_PATH, "vorta-devsim", "--listen", "127.0.0.1:0", "--devices",
                count.c_str(), "--restart-ms", restart.c_str(), "--log", "/dev/null", "--port-file",
                portArg.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (port == 0 && Clock::now() < deadline) {
        std::ifstream in(portFile);
        in >> port;
        if (port == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

Simulator::~Simulator() {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

double Simulator::CpuSeconds() const {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat(std::istreambuf_iterator<char>(in), {});
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    // After the command: state is field 3; utime and stime are fields 14 and 15.
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index >= 14) {
            ticks += std::strtod(field.c_str(), nullptr);
        }
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long Simulator::ResidentKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

std::vector<std::string> DeviceNames(int first, int count) {
    std::vector<std::string> names;
    for (int i = first; i < first + count; ++i) {
        names.push_back("device-" + std::to_string(i) + ".invalid");
    }
    return names;
}

namespace {

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// The child's part of RunEngineJob; never returns.
[[noreturn]] void EngineChild(int resultFd, const std::string& proxy,
                              const std::vector<std::string>& hosts, int devicesAtATime,
                              const std::string& imagePath) {
    ::setenv("http_proxy", proxy.c_str(), 1);
    ::unsetenv("no_proxy");
    JobResult result;
    result.devices = static_cast<int>(hosts.size());
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
    std::vector<std::wstring> wideHosts;
    bool ready = model != nullptr && controller != nullptr && settings != nullptr &&
                 settings->SetDevicesAtATime(devicesAtATime);
    for (const std::string& host : hosts) {
        wideHosts.push_back(tv::common::BytesToWide(host));
        ready = ready && model->AddDevice(wideHosts.back().c_str());
    }
    const bool rewrite = !imagePath.empty();
    if (ready && rewrite) {
        ready = model->LoadUpdateImage(tv::common::BytesToWide(imagePath).c_str());
    }
    if (ready) {
        const auto start = Clock::now();
        if (rewrite ? controller->StartUpdate(L"update") : controller->StartCommunicationTest()) {
            std::size_t next = 0;  // devices before it have ended
            while (next < wideHosts.size()) {
                const int progress = model->GetProgress(wideHosts[next].c_str());
                if (progress == 100 || progress < 0) {
                    result.succeeded += progress == 100 ? 1 : 0;
                    ++next;
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
            result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        }
    }
    result.peakKiB = PeakKiB();
    [[maybe_unused]] const ssize_t written = ::write(resultFd, &result, sizeof result);
    std::_Exit(0);  // the job has ended; skip unloading for a clean measurement
}

}  // namespace

JobResult RunEngineJob(const std::string& proxy, const std::vector<std::string>& hosts,
                       int devicesAtATime, const std::string& imagePath) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        EngineChild(fds[1], proxy, hosts, devicesAtATime, imagePath);
    }
    ::close(fds[1]);
    JobResult result;
    if (::read(fds[0], &result, sizeof result) != static_cast<ssize_t>(sizeof result)) {
        result = {};
    }
    ::close(fds[0]);
    struct rusage usage {};
    ::wait4(child, nullptr, 0, &usage);
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return result;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace fleet_bench
