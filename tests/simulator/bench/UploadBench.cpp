// Measures how fast a file part streams through vorta-devsim against how fast md5sum digests the
// same bytes: the simulator must never be what limits a benchmark of the tool.
//
//   devsim_upload_bench [SIZE_BYTES]   (default: the carried stand-in image's total)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "DeviceClient.h"
#include "SimulatorProcess.h"
#include "TestImage.h"

using namespace devsim_test;

namespace {

// User and system CPU seconds a process has used so far.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t size = argc > 1 ? std::strtoull(argv[1], nullptr, 10)
                                        : talbo::tesk::vorta::common::kStandInTotalSize;
    const std::string bytes = PseudoRandomBytes(static_cast<std::size_t>(size), 2024);
    TempFolder folder;
    auto path = folder.Write("part.bin", bytes);
    const std::string digest = Md5Hex(bytes);

    double md5sumBest = 1e9;
    const double md5sumCpuBefore = ChildrenCpuSeconds();
    for (int round = 0; round < 5; ++round) {
        auto started = std::chrono::steady_clock::now();
        std::string command = "md5sum " + path.string() + " > /dev/null";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "md5sum failed\n");
            return 1;
        }
        md5sumBest = std::min(
            md5sumBest,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }

    const double md5sumCpu = (ChildrenCpuSeconds() - md5sumCpuBefore) / 5;
    SimulatorProcess sim({"--devices", "1", "--restart-ms", "0"});
    if (!sim.Started()) {
        std::fprintf(stderr, "simulator did not start: %s\n", sim.StandardError().c_str());
        return 1;
    }
    auto device = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid");
    device.GetInformation();
    const long before = sim.ResidentKiB();
    const FileSource file = FileSource::Of(bytes);
    double uploadBest = 1e9;
    const double simCpuBefore = ProcessCpuSeconds(sim.Pid());
    for (int round = 0; round < 5; ++round) {
        Reply reply =
            device.Send(MakeBody(1, ChangeModeDocument(kTestAfterVersion, digest), true), &file);
        if (reply.status != 200 || (reply.body.find("success=\"true\"") == std::string::npos &&
                                    std::getenv("DEVSIM_BENCH_ANY_ANSWER") == nullptr)) {
            std::fprintf(stderr, "upload failed: %ld %s\n", reply.status, reply.body.c_str());
            return 1;
        }
        uploadBest = std::min(uploadBest, reply.seconds);
    }
    const double simCpu = (ProcessCpuSeconds(sim.Pid()) - simCpuBefore) / 5;
    const long peak = sim.PeakResidentKiB();
    const double mib = static_cast<double>(size) / (1 << 20);
    std::printf("bytes %llu\n", static_cast<unsigned long long>(size));
    std::printf("md5sum          %.3f s  %7.1f MiB/s\n", md5sumBest, mib / md5sumBest);
    std::printf("through devsim  %.3f s  %7.1f MiB/s  (%.0f%% of md5sum)\n", uploadBest,
                mib / uploadBest, 100.0 * md5sumBest / uploadBest);
    std::printf("CPU per pass: md5sum %.3f s, simulator %.3f s (%.0f%% of md5sum's speed)\n",
                md5sumCpu, simCpu, 100.0 * md5sumCpu / simCpu);
    std::printf("simulator resident %ld KiB before, peak %ld KiB after 5 uploads\n", before, peak);
    return 0;
}
