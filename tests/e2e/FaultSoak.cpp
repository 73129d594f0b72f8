#include "FaultSoak.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "EngineHost.h"
#include "SimulatorProcess.h"
#include "TestImage.h"
#include "common/StandInImageLayout.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// The parts a device receives as change-mode requests; every other step is uploaded. The upload
// parts keep the image's order, so a seed draws the same faults as long as the layout stays.
const std::vector<std::string> kChangeModeParts = {"BackupSettingValue", "ReChangeMode"};
const std::vector<std::string> kUploadParts = [] {
    std::vector<std::string> parts;
    for (const auto& step : talbo::tesk::vorta::common::kStandInSteps) {
        if (std::find(kChangeModeParts.begin(), kChangeModeParts.end(), step.name) ==
            kChangeModeParts.end()) {
            parts.emplace_back(step.name);
        }
    }
    return parts;
}();
const std::vector<std::string> kAppNames = {
    "Print",       "WebConfig",      "WebContents",       "WebContentsUpdater", "Utility",
    "StatusPrint", "Initialization", "ServerDirectPrint", "StatusNotification", "HIDNotification"};
const std::vector<std::string> kRefusals = {"NotCorrespond", "AnotherUpdating", "VersionNotSame",
                                            "InvalidFile",   "OtherError",      "ModeNotChanged",
                                            "AnotherApp",    "StatusFailed",    "NoSuchReason"};

// Draws the faults of one device from a seeded generator.
class FaultDraw {
public:
    explicit FaultDraw(std::mt19937_64& random) : random(random) {}

    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool Chance(int percent) { return Between(1, 100) <= percent; }
    template <typename T>
    const T& OneOf(const std::vector<T>& list) {
        return list[static_cast<std::size_t>(Between(0, static_cast<int>(list.size()) - 1))];
    }

    // Where a fault strikes: a request kind and, for parts, which one.
    json Target(bool withInformation, bool withPriming = false) {
        std::vector<std::string> kinds = {"ChangeMode", "Update"};
        if (withInformation) {
            kinds.push_back("GetInformation");
        }
        if (withPriming) {
            kinds.push_back("priming");
        }
        const std::string kind = OneOf(kinds);
        json fault = {{"on", kind}};
        if (kind == "ChangeMode") {
            fault["part"] = OneOf(kChangeModeParts);
        } else if (kind == "Update") {
            fault["part"] = OneOf(kUploadParts);
        } else {
            // The test exchange, a restart probe or the read after the last part.
            fault["occurrence"] = Between(1, 4);
        }
        return fault;
    }

    // One fault of the catalogue; adds its delay or stall to injectedMs.
    json Fault(long& injectedMs) {
        switch (Between(0, 11)) {
            case 0: {
                json fault = Target(false);
                fault["action"] = "refuse";
                fault["reason"] = OneOf(kRefusals);
                if (fault["reason"] == "AnotherApp") {
                    fault["app-name"] = OneOf(kAppNames);
                }
                return fault;
            }
            case 1: {
                json fault = Target(true);
                fault["action"] = "busy";
                fault["app-name"] = OneOf(kAppNames);
                return fault;
            }
            case 2: {
                json fault = Target(false);
                fault["action"] = "drop";
                if (Chance(50)) {
                    fault["after-bytes"] = Between(0, 3000);
                }
                fault["times"] = Chance(25) ? 0 : 1;
                return fault;
            }
            case 3: {
                // Stalls always end: one until the simulator stops would be cut by the
                // client's stall detection only after minutes.
                json fault = Target(true);
                fault["action"] = "stall";
                fault["ms"] = Between(20, 600);
                if (fault["on"] != "GetInformation" && Chance(50)) {
                    fault["after-bytes"] = Between(0, 3000);
                }
                injectedMs += fault["ms"].get<int>();
                return fault;
            }
            case 4: {
                json fault = Target(true, true);
                fault["action"] = "delay";
                fault["ms"] = Between(20, 600);
                injectedMs += fault["ms"].get<int>();
                return fault;
            }
            case 5: {
                json fault = Target(true, true);
                fault["action"] = "status";
                fault["code"] = OneOf(std::vector<int>{401, 403, 404, 500, 503});
                fault["times"] = Chance(25) ? 0 : 1;
                return fault;
            }
            case 6:
            case 7: {
                json fault = Target(true);
                fault["action"] = OneOf(std::vector<std::string>{"malformed-xml", "schema-invalid",
                                                                 "non-utf8", "oversized", "body"});
                if (fault["action"] == "body") {
                    fault["text"] = OneOf(std::vector<std::string>{
                        "", "not xml at all", "<tesk-utility/>",
                        "<?xml version=\"1.0\"?><tesk-utility "
                        "xmlns=\"http://www.talbo.com/schemas/2012/02/tesk-utility\"><update>"
                        "<response success=\"true\"><status>Idle</status></response></update>"
                        "</tesk-utility>"});
                }
                return fault;
            }
            case 8:
                return RestartFault("no-comeback");
            case 9:
            case 10: {
                json fault = RestartFault("comeback-status");
                const bool afterReboot = fault["part"] == "Reboot";
                const std::string status = OneOf(std::vector<std::string>{
                    "Idle", "SelfUpdating", "AnotherUpdating", "AnotherApp", "Broken", "Frozen"});
                fault["status"] = status;
                if (status == "AnotherApp") {
                    fault["app-name"] = OneOf(kAppNames);
                } else if (status == "Broken") {
                    // A device that lost progress: back at a part it had reached, or before.
                    fault["progress"] = std::to_string(afterReboot ? Between(2, 6) : Between(1, 2));
                }
                return fault;
            }
            default:
                return json{{"action", "keep-firmware"}};
        }
    }

private:
    // A fault armed by one of the two requests after which the device restarts.
    json RestartFault(const char* action) {
        if (Chance(50)) {
            return {{"on", "ChangeMode"}, {"part", "BackupSettingValue"}, {"action", action}};
        }
        return {{"on", "Update"}, {"part", "Reboot"}, {"action", action}};
    }

    std::mt19937_64& random;
};

bool IsFinal(int progress) {
    constexpr int kWaitsForAnAnswer = -15;
    return progress == 100 || (progress < 0 && progress != kWaitsForAnAnswer);
}

double CpuSecondsOfThisProcess() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double CpuSecondsOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Fields after the command name, which ends with the last ')': utime and stime are the
    // 12th and 13th of them.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i >= 12) {
            ticks += std::strtod(field.c_str(), nullptr);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Sets an environment variable for the lifetime of the object, then puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name(name) {
        if (const char* old = std::getenv(name)) {
            previous = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (previous) {
            ::setenv(name, previous->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name;
    std::optional<std::string> previous;
};

// What the simulator's log says about one device.
struct DeviceOracle {
    std::set<std::string> acceptedParts;
    std::string firmware;
    std::string status;
    bool updateMode = false;
    bool summarised = false;
};

std::map<std::string, DeviceOracle> ReadOracle(const devsim_test::SimulatorProcess& sim) {
    std::map<std::string, DeviceOracle> oracle;
    for (const json& event : sim.Events()) {
        if (!event.is_object()) {
            continue;
        }
        const std::string device = devsim_test::TextOf(event, "device");
        const std::string kind = devsim_test::TextOf(event, "event");
        if (kind == "request" && devsim_test::TextOf(event, "answer") == "accepted") {
            oracle[device].acceptedParts.insert(devsim_test::TextOf(event, "part"));
        } else if (kind == "summary") {
            DeviceOracle& entry = oracle[device];
            entry.firmware = devsim_test::TextOf(event, "firmware");
            entry.status = devsim_test::TextOf(event, "status");
            entry.updateMode = event.value("update_mode", false);
            entry.summarised = true;
        }
    }
    return oracle;
}

std::string Describe(const SoakDevice& device, int progress, long spanMs, long boundMs) {
    return device.host + " (progress " + std::to_string(progress) + ", " + std::to_string(spanMs) +
           " of " + std::to_string(boundMs) + " ms; device: " + device.fields.dump() + ")";
}

// Checks one device; adds what is wrong to failures.
void CheckDevice(const SoakDevice& device, int progress, long spanMs, long boundMs,
                 const DeviceOracle& oracle, const std::set<std::string>& partNames,
                 std::vector<std::string>& failures) {
    const std::string what = Describe(device, progress, spanMs, boundMs);
    auto fail = [&](const std::string& problem) { failures.push_back(problem + ": " + what); };
    if (!oracle.summarised) {
        fail("the simulator's log has no summary of the device");
        return;
    }
    if (!IsFinal(progress)) {
        fail("ended with neither 100 nor a negative code");
    }
    const bool replaced = oracle.firmware == devsim_test::kTestAfterVersion;
    if (progress == 100) {
        if (!replaced) {
            fail("false success: shows 100 but runs " + oracle.firmware);
        }
        if (oracle.status != "Idle" || oracle.updateMode) {
            fail("shows 100 but the device reports " + oracle.status +
                 (oracle.updateMode ? " in update mode" : ""));
        }
        for (const std::string& part : partNames) {
            if (oracle.acceptedParts.count(part) == 0) {
                fail("shows 100 but the device never accepted " + part);
            }
        }
    }
    if (spanMs > boundMs) {
        fail("took longer than its bound");
    }
}

}  // namespace

SoakScenario DrawSoakScenario(std::uint64_t seed, int deviceCount) {
    SoakScenario scenario;
    scenario.seed = seed;
    std::mt19937_64 random(seed);
    FaultDraw draw(random);
    for (int i = 1; i <= deviceCount; ++i) {
        SoakDevice device;
        device.host = "soak-" + std::to_string(i) + ".invalid";
        device.fields = {{"host", device.host}};
        if (draw.Chance(30)) {
            device.fields["pretty"] = true;
        }
        json faults = json::array();
        if (draw.Chance(85)) {
            faults.push_back(draw.Fault(device.injectedMs));
            if (draw.Chance(25)) {
                faults.push_back(draw.Fault(device.injectedMs));
            }
        }
        device.fields["faults"] = faults;
        scenario.devices.push_back(std::move(device));
    }
    return scenario;
}

std::uint64_t SoakSeed() {
    if (const char* text = std::getenv("VORTA_SOAK_SEED"); text != nullptr && *text != '\0') {
        std::uint64_t seed = 0;
        const char* end = text + std::char_traits<char>::length(text);
        auto [stop, error] = std::from_chars(text, end, seed);
        if (error == std::errc() && stop == end) {
            return seed;
        }
    }
    std::random_device entropy;
    return (static_cast<std::uint64_t>(entropy()) << 32) ^ entropy();
}

SoakReport RunFaultSoak(const SoakScenario& scenario) {
    SoakReport report;
    report.seed = scenario.seed;
    report.devices = static_cast<int>(scenario.devices.size());
    const SoakTimings& timings = scenario.timings;
    try {
        devsim_test::TempFolder folder;
        const auto steps = devsim_test::CarriedStepsSmall();
        std::set<std::string> partNames;
        for (const auto& step : steps) {
            partNames.insert(step.name);
        }
        const auto image = folder.Write("soak.rcx", devsim_test::ImageBytes(steps));
        json fleet = {{"defaults", {{"restart-ms", timings.restartMs}}},
                      {"devices", json::array()}};
        std::vector<std::wstring> hosts;
        for (const SoakDevice& device : scenario.devices) {
            fleet["devices"].push_back(device.fields);
            hosts.push_back(Wide(device.host));
        }
        devsim_test::SimulatorProcess sim({"--fleet",
                                           folder.Write("fleet.json", fleet.dump()).string(),
                                           "--image", image.string()});
        if (!sim.Started()) {
            report.failures.push_back("the simulator did not start: " + sim.StandardError());
            return report;
        }
        EngineHost& engine = EngineHost::Get();
        if (!engine.Loaded()) {
            report.failures.push_back("the engine library is held by another process");
            return report;
        }
        if (!engine.WaitUntilIdle()) {
            report.failures.push_back("the engine stays busy");
            return report;
        }
        // One device at a time: each device's run then lasts from the end of the one before
        // until its own end, which is what the time bound is checked against.
        if (!engine.Settings().SetDevicesAtATime(1)) {
            report.failures.push_back("the engine refused to serve one device at a time");
            return report;
        }
        ScopedVariable proxy("http_proxy", "http://127.0.0.1:" + std::to_string(sim.Port()));
        ScopedVariable noProxy("no_proxy", "");
        {
            // The model takes the restart timings from the environment when a device is
            // registered.
            ScopedVariable first("VORTA_REBOOT_FIRST_WAIT_MS", std::to_string(timings.firstWaitMs));
            ScopedVariable retry("VORTA_REBOOT_RETRY_WAIT_MS", std::to_string(timings.retryWaitMs));
            ScopedVariable most("VORTA_REBOOT_RETRY_MAX", std::to_string(timings.retryMax));
            engine.UseOnly(hosts);
        }
        if (!engine.Model().LoadUpdateImage(image.wstring().c_str())) {
            report.failures.push_back("the engine refused the soak's image");
            return report;
        }
        long totalBoundMs = 0;
        for (const SoakDevice& device : scenario.devices) {
            totalBoundMs += device.BoundMs(timings);
        }
        const auto jobLimit = std::chrono::seconds(totalBoundMs / 1000 + 60);
        const double cpuBefore = CpuSecondsOfThisProcess();

        auto started = Clock::now();
        if (!engine.Controller().StartCommunicationTest() ||
            !engine.WaitUntilIdle(std::chrono::duration_cast<std::chrono::seconds>(jobLimit))) {
            report.failures.push_back("the communication test did not start or did not end");
            return report;
        }
        report.testSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        for (const SoakDevice& device : scenario.devices) {
            const int progress = engine.Model().GetProgress(Wide(device.host).c_str());
            if (!IsFinal(progress)) {
                report.failures.push_back("the test ended a device with " +
                                          std::to_string(progress) + ": " + device.host);
            }
        }

        // Each device's end is when its progress first shows a result.
        std::vector<std::optional<Clock::time_point>> ended(scenario.devices.size());
        started = Clock::now();
        if (!engine.Controller().StartUpdate(L"update")) {
            report.failures.push_back("the rewrite did not start");
            return report;
        }
        const auto deadline = started + jobLimit;
        std::size_t open = scenario.devices.size();
        while (open > 0 && Clock::now() < deadline) {
            for (std::size_t i = 0; i < scenario.devices.size(); ++i) {
                if (!ended[i] &&
                    IsFinal(engine.Model().GetProgress(Wide(scenario.devices[i].host).c_str()))) {
                    ended[i] = Clock::now();
                    --open;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const bool idle = engine.WaitUntilIdle(std::chrono::seconds(std::max<long>(
            1, std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now()).count())));
        report.updateSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        report.engineCpuSeconds = CpuSecondsOfThisProcess() - cpuBefore;
        report.simulatorCpuSeconds = CpuSecondsOf(sim.Pid());
        if (!idle) {
            report.failures.push_back("the rewrite did not end within " +
                                      std::to_string(jobLimit.count()) + " s");
        }
        sim.Stop();

        const auto oracle = ReadOracle(sim);
        std::vector<std::size_t> order(scenario.devices.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return ended[a].value_or(Clock::time_point::max()) <
                   ended[b].value_or(Clock::time_point::max());
        });
        Clock::time_point previous = started;
        for (const std::size_t i : order) {
            const SoakDevice& device = scenario.devices[i];
            const int progress = engine.Model().GetProgress(Wide(device.host).c_str());
            const Clock::time_point end = ended[i].value_or(Clock::now());
            const long spanMs = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - previous).count());
            previous = std::max(previous, end);
            const long boundMs = device.BoundMs(timings);
            const auto found = oracle.find(device.host);
            CheckDevice(device, progress, spanMs, boundMs,
                        found != oracle.end() ? found->second : DeviceOracle{}, partNames,
                        report.failures);
            ++report.byProgress[progress];
            if (found != oracle.end() && found->second.firmware == devsim_test::kTestAfterVersion) {
                ++report.firmwareReplaced;
            }
            report.longestSpanMs = std::max(report.longestSpanMs, spanMs);
            report.highestSpanShare =
                std::max(report.highestSpanShare, static_cast<double>(spanMs) / boundMs);
        }
    } catch (const std::exception& error) {
        report.failures.push_back(std::string("the soak stopped: ") + error.what());
    }
    return report;
}

}  // namespace e2e
