// update_job_bench [--rounds N]
//
// Rewrites one simulated device with the carried image through the engine library (in a fresh
// child process, zero restart waits) and, in the same run, posts the same eleven blocks with the
// same multipart layout and Digest authentication to the same simulator with the curl program.
// Prints both times, their ratio and the engine's peak resident memory above the image's block
// bytes; exits 3 when a target is missed.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>

#include "common/Utf8.h"
#include "engine/interface/VortaFWUpdateModule.h"
#include "engine/model/CBasicRCXFileParser.h"
#include "engine/protocol/CHttpRequestBuilder.h"
#include "engine/protocol/UtilityDocuments.h"

namespace fs = std::filesystem;
namespace tv = talbo::tesk::vorta;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kMaxRatio = 1.2;
constexpr long kMaxExtraKiB = 24 * 1024;
constexpr const char* kEngineDevice = "bench-engine.invalid";
constexpr const char* kCurlDevice = "bench-curl.invalid";

struct Simulator {
    pid_t pid = -1;
    int port = 0;
};

Simulator StartSimulator(const fs::path& folder) {
    const fs::path fleet = folder / "fleet.json";
    std::ofstream(fleet) << R"({"defaults":{"restart-ms":0},"devices":[{"host":")" << kEngineDevice
                         << R"("},{"host":")" << kCurlDevice << R"("}]})";
    const fs::path portFile = folder / "port";
    Simulator sim;
    sim.pid = ::fork();
    if (sim.pid == 0) {
        const std::string fleetArg = fleet.string(), portArg = portFile.string();
        ::execl(VORTA_DEVSIM_PATH, "vorta-devsim", "--listen", "127.0.0.1:0", "--fleet",
                fleetArg.c_str(), "--image", VORTA_CARRIED_IMAGE_PATH, "--log", "/dev/null",
                "--port-file", portArg.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    for (int i = 0; i < 500 && sim.port == 0; ++i) {
        std::ifstream in(portFile);
        in >> sim.port;
        if (sim.port == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return sim;
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
        }
    }
    return -1;
}

struct EngineResult {
    double seconds = -1;
    long peakKiB = -1;
    int progress = 0;
};

// In a child process, as a fresh host would: load, register, load the image, rewrite.
EngineResult RunEngine(int port) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const std::string proxy = "http://127.0.0.1:" + std::to_string(port);
        ::setenv("http_proxy", proxy.c_str(), 1);
        ::unsetenv("no_proxy");
        ::setenv("VORTA_REBOOT_FIRST_WAIT_MS", "0", 1);
        ::setenv("VORTA_REBOOT_RETRY_WAIT_MS", "0", 1);
        ::setenv("VORTA_REBOOT_RETRY_MAX", "50", 1);
        EngineResult result;
        void* module = ::dlopen(VORTA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        auto getModel =
            module
                ? reinterpret_cast<tv::GetVortaUpdateModelFn>(::dlsym(module, tv::kModelEntryName))
                : nullptr;
        auto getController = module ? reinterpret_cast<tv::GetVortaUpdateControllerFn>(
                                          ::dlsym(module, tv::kControllerEntryName))
                                    : nullptr;
        tv::CUpdateModelExport* model = getModel ? getModel() : nullptr;
        tv::CUpdateControllerExport* controller = getController ? getController() : nullptr;
        const std::wstring host = tv::common::BytesToWide(kEngineDevice);
        const std::wstring image = tv::common::BytesToWide(VORTA_CARRIED_IMAGE_PATH);
        if (model && controller && model->AddDevice(host.c_str()) &&
            model->LoadUpdateImage(image.c_str())) {
            const auto start = Clock::now();
            if (controller->StartUpdate(L"update")) {
                int progress = 0;
                while ((progress = model->GetProgress(host.c_str())) >= 0 && progress < 100) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
                result.progress = progress;
            }
        }
        result.peakKiB = StatusKiB("VmHWM:");
        [[maybe_unused]] const ssize_t written = ::write(fds[1], &result, sizeof result);
        std::_Exit(0);  // the worker thread is done; skip unloading for a clean measurement
    }
    ::close(fds[1]);
    EngineResult result;
    if (::read(fds[0], &result, sizeof result) != static_cast<ssize_t>(sizeof result)) {
        result = {};
    }
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return result;
}

struct CurlPost {
    fs::path body;
    std::string contentType;
};

// The eleven requests of the plan, built with the engine's own builder and documents so that the
// bytes on the wire are the same.
std::vector<CurlPost> PrepareCurlPosts(const tv::CUpdateImagePartList& parts, const fs::path& dir) {
    std::vector<CurlPost> posts;
    for (const auto& part : parts) {
        const std::wstring number = part->GetNumber();
        const bool changeMode = number == L"1" || number == L"2" || number == L"6";
        const tv::CUpdateImagePart* sent = part.get();
        if (number == L"6") {
            sent = parts[1].get();  // the first part named "ReChangeMode"
        }
        std::wstring document;
        tv::AppendImagePartDocument(changeMode ? tv::kChangeModeRequest : tv::kUpdateRequest, *sent,
                                    document);
        tv::CHttpRequestBuilder builder(L"POST", L"firmware-update", L"firmware-update");
        builder.Build(tv::common::BytesToWide(kCurlDevice), document, sent);
        CurlPost post;
        post.body = dir / ("body-" + tv::common::AsciiToNarrow(number));
        std::ofstream out(post.body, std::ios::binary);
        for (const tv::ByteSequence* piece :
             {&builder.GetBodyHead(), &builder.GetFileData(), &builder.GetBodyTail()}) {
            out.write(reinterpret_cast<const char*>(piece->data()),
                      static_cast<std::streamsize>(piece->size()));
        }
        post.contentType = tv::common::AsciiToNarrow(builder.GetHeaders());
        posts.push_back(post);
    }
    return posts;
}

double RunCurl(const std::vector<CurlPost>& posts, int port) {
    const std::string proxy = "http://127.0.0.1:" + std::to_string(port);
    const std::string url =
        std::string("http://") + kCurlDevice + "/firmware-update/firmware-update";
    const auto start = Clock::now();
    for (const CurlPost& post : posts) {
        const pid_t child = ::fork();
        if (child == 0) {
            const std::string data = "@" + post.body.string();
            ::execlp("curl", "curl", "-s", "-f", "-o", "/dev/null", "--proxy", proxy.c_str(),
                     "--digest", "-u", "client:Tz8wq3-k", "-H", post.contentType.c_str(), "-H",
                     "Expect:", "--data-binary", data.c_str(), url.c_str(),
                     static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return -1;
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    const fs::path dir =
        fs::temp_directory_path() / ("vorta-job-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);

    tv::CBasicRCXFileParser parser;
    tv::CUpdateImagePartList parts;
    if (parser.Parse(tv::common::BytesToWide(VORTA_CARRIED_IMAGE_PATH), parts) != 0) {
        std::fprintf(stderr, "cannot parse %s\n", VORTA_CARRIED_IMAGE_PATH);
        return 1;
    }
    long blockBytes = 0;
    for (const auto& part : parts) {
        blockBytes += static_cast<long>(part->GetData().size());
    }
    const std::vector<CurlPost> posts = PrepareCurlPosts(parts, dir);
    parts.clear();

    const Simulator sim = StartSimulator(dir);
    if (sim.port == 0) {
        std::fprintf(stderr, "vorta-devsim did not start\n");
        return 1;
    }
    std::vector<double> engineTimes, curlTimes;
    long worstExtraKiB = 0;
    for (int round = 0; round < rounds; ++round) {
        const EngineResult engine = RunEngine(sim.port);
        const double curl = RunCurl(posts, sim.port);
        if (engine.seconds < 0 || engine.progress != 100 || curl < 0) {
            std::fprintf(stderr, "round %d failed (engine progress %d, curl %.3f)\n", round,
                         engine.progress, curl);
            ::kill(sim.pid, SIGTERM);
            return 1;
        }
        engineTimes.push_back(engine.seconds);
        curlTimes.push_back(curl);
        worstExtraKiB = std::max(worstExtraKiB, engine.peakKiB - blockBytes / 1024);
    }
    ::kill(sim.pid, SIGTERM);
    ::waitpid(sim.pid, nullptr, 0);
    fs::remove_all(dir);

    const double engine = Median(engineTimes), curl = Median(curlTimes);
    const double ratio = engine / curl;
    std::printf("full rewrite through the engine: %.3f s (median of %d)\n", engine, rounds);
    std::printf("curl posting the same 11 blocks:  %.3f s\n", curl);
    std::printf("ratio engine/curl:                %.2f (target at most %.1f)\n", ratio, kMaxRatio);
    std::printf("peak resident above block bytes:  %.1f MiB (target at most 24 MiB)\n",
                worstExtraKiB / 1024.0);
    return ratio <= kMaxRatio && worstExtraKiB <= kMaxExtraKiB ? 0 : 3;
}
