// What the start-up check of the carried files costs, against `openssl dgst -sha256` of the
// image in the same run.
//
// The check is what the tool does at every start before the engine is loaded: the SHA-256 of
// the engine library as written and of the update image, both read from files in chunks
// (CarriedBlobDigest). Timed here in this process over the built image and engine, alternating
// with runs of the openssl program, after one warm-up of each so that both read from the page
// cache; the medians are compared. The whole start-up of the real tool is timed beside them
// (`VortaFWUpdateTool @/dev/null`: every start-up step, check included, then an empty device
// list ends the run before anyone is contacted), with the tool's peak resident memory, which
// shows that checking the image does not page it into the process.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tool/app/CarriedBlobDigest.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace tv = talbo::tesk::vorta;

constexpr int kExitTargetMissed = 3;
constexpr double kTargetRatio = 1.5;

struct SRun {
    double seconds = 0;
    long peakKiB = 0;  // the child's maximum resident set
};

// Runs a program to its end with its output discarded; -1 seconds when it could not be started.
SRun RunProgram(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return {-1, 0};
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return {std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss};
}

double CheckInProcess(const std::filesystem::path& engine, const std::filesystem::path& image) {
    const Clock::time_point start = Clock::now();
    int error = 0;
    const bool ok =
        tv::FileSha256(engine, error).has_value() && tv::FileSha256(image, error).has_value();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return ok ? seconds : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 15;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    const std::string image = VORTA_CARRIED_IMAGE_PATH;
    const std::string engine = VORTA_MODULE_PATH;
    const std::string tool = VORTA_TOOL_PATH;
    // The tool's own folders stay out of the user's.
    const std::filesystem::path state = std::filesystem::temp_directory_path() /
                                        ("startup-check-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(state);
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);

    std::vector<double> openssl;
    std::vector<double> check;
    std::vector<double> startup;
    long toolPeakKiB = 0;
    for (int round = -1; round < runs; ++round) {  // round -1 warms the cache
        const SRun dgst = RunProgram({"openssl", "dgst", "-sha256", image});
        const double own = CheckInProcess(engine, image);
        const SRun start = RunProgram({tool, "@/dev/null"});
        if (dgst.seconds < 0 || own < 0 || start.seconds < 0) {
            std::fprintf(stderr, "startup_check_bench: a run could not be made\n");
            return 1;
        }
        if (round >= 0) {
            openssl.push_back(dgst.seconds);
            check.push_back(own);
            startup.push_back(start.seconds);
            toolPeakKiB = std::max(toolPeakKiB, start.peakKiB);
        }
    }
    std::filesystem::remove_all(state);
    const double ratio = Median(check) / Median(openssl);
    std::printf("image %s (%ju bytes), engine %s\n", image.c_str(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(image)), engine.c_str());
    std::printf("medians of %d runs:\n", runs);
    std::printf("  openssl dgst -sha256 of the image  %.3f s\n", Median(openssl));
    std::printf("  start-up check (engine and image)  %.3f s  ratio %.2f (target at most %.1f)\n",
                Median(check), ratio, kTargetRatio);
    std::printf("  whole start-up of the tool         %.3f s  peak resident %.1f MiB\n",
                Median(startup), static_cast<double>(toolPeakKiB) / 1024.0);
    return ratio <= kTargetRatio ? 0 : kExitTargetMissed;
}
