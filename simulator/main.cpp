// vorta-devsim: a fleet of simulated Vorta devices on loopback.

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "simulator/CCommandLine.h"
#include "simulator/CDeviceServer.h"
#include "simulator/CEventLog.h"
#include "simulator/CReplayScript.h"
#include "simulator/CSimulatedDevice.h"
#include "simulator/CStopToken.h"
#include "simulator/CUpdatePlan.h"

using namespace talbo::tesk::vorta::devsim;

namespace {

bool WriteAtomically(const std::string& path, const std::string& text) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << text;
        if (!file.flush()) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

std::string SummaryLine(CSimulatedDevice& device, const DeviceCounters& counters) {
    DeviceSnapshot snapshot = device.Snapshot();
    std::ostringstream line;
    line << snapshot.host << ": " << counters.requests << " requests";
    bool first = true;
    for (auto& [kind, count] : counters.byKind) {
        line << (first ? " (" : ", ") << kind << " " << count;
        first = false;
    }
    line << (first ? ", " : "), ") << counters.accepted << " accepted, " << counters.refused
         << " refused, " << counters.challenges << " challenges, " << counters.otherStatus
         << " other statuses, " << counters.dropped << " dropped, " << counters.restarts
         << " restarts, " << counters.faults << " faults; firmware " << device.Settings().firmware;
    if (snapshot.firmware != device.Settings().firmware) {
        line << " -> " << snapshot.firmware;
    }
    line << ", status " << snapshot.status;
    if (snapshot.updateMode) {
        line << " (update mode, next part " << snapshot.nextPart << ")";
    }
    if (CReplayScript* replay = device.Replay()) {
        line << "; replayed " << replay->Served() << " of " << replay->Steps().size()
             << " recorded round trips";
    }
    return line.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    auto options = ParseCommandLine(arguments, error);
    if (!options) {
        std::fprintf(stderr, "vorta-devsim: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(HelpText(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("vorta-devsim %s\n", VORTA_DEVSIM_VERSION);
        return 0;
    }
    auto fleet = BuildFleet(options->fleet, error);
    if (!fleet) {
        std::fprintf(stderr, "vorta-devsim: %s\n", error.c_str());
        return 2;
    }
    std::shared_ptr<const CUpdatePlan> plan;
    if (options->imagePath) {
        auto read = CUpdatePlan::FromImageFile(*options->imagePath, error);
        if (!read) {
            std::fprintf(stderr, "vorta-devsim: %s\n", error.c_str());
            return 2;
        }
        plan = std::make_shared<const CUpdatePlan>(std::move(*read));
    } else {
        plan = std::make_shared<const CUpdatePlan>(CUpdatePlan::CarriedLayout());
    }
    auto log = CEventLog::Open(options->logPath, error);
    if (!log) {
        std::fprintf(stderr, "vorta-devsim: %s\n", error.c_str());
        return 2;
    }

    // The signals are taken by sigwait below; every thread started from here on inherits
    // the mask, so none of them is interrupted by a stop request.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<CSimulatedDevice>> devices;
    for (auto& settings : *fleet) {
        devices.push_back(std::make_unique<CSimulatedDevice>(settings, plan));
    }
    CStopToken stop;
    CDeviceServer server(devices, *log, stop);
    bool started = options->fleet.direct ? server.StartDirect(error)
                                         : server.StartProxy(options->listen, error);
    if (!started) {
        std::fprintf(stderr, "vorta-devsim: %s\n", error.c_str());
        return 1;
    }

    nlohmann::ordered_json listening = {{"event", "listening"},
                                        {"mode", options->fleet.direct ? "direct" : "proxy"},
                                        {"image", options->imagePath ? *options->imagePath : ""}};
    std::string portText;
    for (auto& [name, address] : server.Bound()) {
        listening["addresses"][name] = address.ToString();
        portText += options->fleet.direct ? name + " " + address.ToString() + "\n"
                                          : std::to_string(address.port) + "\n";
    }
    for (auto& device : devices) {
        listening["devices"].push_back(device->Host());
    }
    log->Write(listening);
    for (auto& [name, address] : server.Bound()) {
        std::fprintf(stderr, "vorta-devsim: %s on %s\n",
                     options->fleet.direct ? name.c_str() : "proxy listening",
                     address.ToString().c_str());
    }
    std::fprintf(stderr, "vorta-devsim: %zu device(s)%s; stop with Ctrl-C\n", devices.size(),
                 options->imagePath ? ", parts recognised by digest" : "");
    if (options->portFile && !WriteAtomically(*options->portFile, portText)) {
        std::fprintf(stderr, "vorta-devsim: cannot write the port file %s\n",
                     options->portFile->c_str());
        stop.RequestStop();
        server.Stop();
        return 1;
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    stop.RequestStop();
    server.Stop();
    for (auto& device : devices) {
        DeviceCounters counters = server.Counters(*device);
        std::string line = SummaryLine(*device, counters);
        std::fprintf(stderr, "vorta-devsim: %s\n", line.c_str());
        DeviceSnapshot snapshot = device->Snapshot();
        nlohmann::ordered_json summary = {{"event", "summary"},
                                          {"device", device->Host()},
                                          {"requests", counters.requests},
                                          {"by_request", counters.byKind},
                                          {"accepted", counters.accepted},
                                          {"refused", counters.refused},
                                          {"challenges", counters.challenges},
                                          {"other_statuses", counters.otherStatus},
                                          {"dropped", counters.dropped},
                                          {"restarts", counters.restarts},
                                          {"faults", counters.faults},
                                          {"firmware", snapshot.firmware},
                                          {"status", snapshot.status},
                                          {"update_mode", snapshot.updateMode},
                                          {"next_part", snapshot.nextPart}};
        if (CReplayScript* replay = device->Replay()) {
            summary["replayed"] = replay->Served();
            summary["recorded"] = replay->Steps().size();
        }
        log->Write(summary);
    }
    return 0;
}
