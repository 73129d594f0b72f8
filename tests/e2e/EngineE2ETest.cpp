// The engine against simulated devices: communication test, full rewrites, resume, downgrade
// decisions and failures, observed through the exported interfaces and the simulator's log.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "EngineHost.h"
#include "SimulatorProcess.h"
#include "TestImage.h"

using namespace devsim_test;
using namespace std::chrono_literals;
using e2e::EngineHost;
using e2e::Narrow;
using e2e::Wide;

namespace {

// A simulator with a fleet file, or replaying a trace, and the engine pointed at it through
// http_proxy.
class Fleet {
public:
    explicit Fleet(const nlohmann::json& fleet, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--fleet",
                                              folder.Write("fleet.json", fleet.dump()).string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        Start(arguments);
    }
    struct ReplayOf {
        std::filesystem::path trace;
    };
    explicit Fleet(const ReplayOf& replay) { Start({"--replay", replay.trace.string()}); }
    ~Fleet() { ::unsetenv("http_proxy"); }

    void Start(const std::vector<std::string>& arguments) {
        sim = std::make_unique<SimulatorProcess>(arguments);
        if (sim->Started()) {
            const std::string proxy = "http://127.0.0.1:" + std::to_string(sim->Port());
            ::setenv("http_proxy", proxy.c_str(), 1);
            ::unsetenv("no_proxy");
        }
    }

    SimulatorProcess& Sim() { return *sim; }

    // "request" lines of one device, without the priming requests, as "Type" or "Type:part".
    std::vector<std::string> Exchanges(const std::string& device) const {
        std::vector<std::string> out;
        for (const auto& line : sim->Requests(device)) {
            const std::string type = TextOf(line, "request");
            if (type == "priming" || TextOf(line, "answer") == "down") {
                continue;  // credentials settling, or a probe while the device restarts
            }
            const std::string part = TextOf(line, "part");
            out.push_back(part.empty() ? type : type + ":" + part);
        }
        return out;
    }

    TempFolder folder;
    std::unique_ptr<SimulatorProcess> sim;
};

nlohmann::json Device(const std::string& host, nlohmann::json fields = nlohmann::json::object()) {
    fields["host"] = host;
    return fields;
}

nlohmann::json FleetOf(std::vector<nlohmann::json> devices) {
    return {{"defaults", {{"restart-ms", 200}}}, {"devices", devices}};
}

// Jobs started while it lives write their traces to the folder.
class TracesTo {
public:
    explicit TracesTo(const std::filesystem::path& folder) {
        ::setenv("VORTA_TRACE_DIR", folder.c_str(), 1);
    }
    ~TracesTo() { ::unsetenv("VORTA_TRACE_DIR"); }
    TracesTo(const TracesTo&) = delete;
    TracesTo& operator=(const TracesTo&) = delete;
};

std::string FileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<nlohmann::json> TraceLines(const std::filesystem::path& path) {
    std::vector<nlohmann::json> lines;
    std::istringstream text(FileText(path));
    for (std::string line; std::getline(text, line);) {
        lines.push_back(nlohmann::json::parse(line));  // every line is whole JSON
    }
    return lines;
}

// The round trips of a trace as "request part (resent n) -> status", a dropped one as
// "-> none".
std::vector<std::string> RoundTrips(const std::vector<nlohmann::json>& trace) {
    std::vector<std::string> out;
    for (const auto& line : trace) {
        if (line["event"] != "exchange") {
            continue;
        }
        std::string text = line["request"].get<std::string>();
        if (line["request"] != "priming" && line.contains("part_number")) {
            text += " " + line["part_number"].dump();
        }
        if (line["resends"] != 0) {
            text += " (resent " + line["resends"].dump() + ")";
        }
        out.push_back(text + " -> " +
                      (line["status"].is_null() ? std::string("none") : line["status"].dump()));
    }
    return out;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class EngineE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        smallImage = std::make_unique<TempFolder>();
        smallImagePath = smallImage->Write("small.rcx", ImageBytes(CarriedStepsSmall()));
    }
    static void TearDownTestSuite() { smallImage.reset(); }

    void SetUp() override {
        ASSERT_TRUE(engine.Loaded()) << "the engine library is held by another process";
        ASSERT_TRUE(engine.WaitUntilIdle());
    }

    void LoadSmallImage() {
        ASSERT_TRUE(engine.Model().LoadUpdateImage(smallImagePath.wstring().c_str()));
    }
    std::vector<std::string> ImageArgument() const { return {"--image", smallImagePath.string()}; }

    void Test(const std::vector<std::wstring>& hosts) {
        engine.UseOnly(hosts);
        ASSERT_TRUE(engine.Controller().StartCommunicationTest());
        ASSERT_TRUE(engine.WaitUntilIdle());
    }
    void Update(const std::vector<std::wstring>& hosts, const wchar_t* policy) {
        engine.UseOnly(hosts);
        ASSERT_TRUE(engine.Controller().StartUpdate(policy));
        ASSERT_TRUE(engine.WaitUntilIdle());
    }
    int Progress(const std::wstring& host) { return engine.Model().GetProgress(host.c_str()); }

    EngineHost& engine = EngineHost::Get();
    static inline std::unique_ptr<TempFolder> smallImage;
    static inline std::filesystem::path smallImagePath;
};

}  // namespace

TEST_F(EngineE2E, CommunicationTestOverSeveralDevices) {
    Fleet fleet(FleetOf({
        Device("ct-idle.invalid"),
        Device("ct-print.invalid", {{"status", "AnotherApp"}, {"app-name", "Print"}}),
        Device("ct-other.invalid", {{"status", "AnotherUpdating"}}),
        Device("ct-broken.invalid", {{"status", "Broken"}, {"progress", 5}}),
        Device("ct-versionfail.invalid",
               {{"faults",
                 {{{"on", "GetInformation"}, {"action", "refuse"}, {"reason", "VersionFailed"}}}}}),
        Device("ct-http500.invalid",
               {{"faults", {{{"on", "GetInformation"}, {"action", "status"}, {"code", 500}}}}}),
        Device("ct-invalid.invalid",
               {{"faults", {{{"on", "GetInformation"}, {"action", "schema-invalid"}}}}}),
    }));
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    const std::wstring gone = L"ct-gone.invalid";  // no such device: the proxy answers 502
    engine.Model().AddDevice(gone.c_str());
    Test({L"ct-idle.invalid", L"ct-print.invalid", L"ct-other.invalid", L"ct-broken.invalid",
          L"ct-versionfail.invalid", L"ct-http500.invalid", L"ct-invalid.invalid", gone});

    EXPECT_EQ(Progress(L"ct-idle.invalid"), 100);
    EXPECT_EQ(engine.Value(L"ct-idle.invalid", L"modelname"), L"QX-Vorta-1000");
    EXPECT_EQ(engine.Value(L"ct-idle.invalid", L"version"), L"Ver.3.00TC");
    EXPECT_EQ(engine.Value(L"ct-idle.invalid", L"accesstest"), L"Idle");
    EXPECT_EQ(Progress(L"ct-print.invalid"), -5);
    EXPECT_EQ(engine.Value(L"ct-print.invalid", L"accesstest"), L"Print");
    EXPECT_EQ(Progress(L"ct-other.invalid"), -4);
    EXPECT_EQ(Progress(L"ct-broken.invalid"), 100);
    EXPECT_EQ(engine.Value(L"ct-broken.invalid", L"accesstest"), L"5");
    EXPECT_EQ(Progress(L"ct-versionfail.invalid"), -14);
    EXPECT_EQ(engine.Value(L"ct-versionfail.invalid", L"accesstest"), L"VersionFailed");
    EXPECT_EQ(engine.Value(L"ct-versionfail.invalid", L"modelname"), L"");
    EXPECT_EQ(Progress(L"ct-http500.invalid"), -3);
    EXPECT_EQ(engine.Value(L"ct-http500.invalid", L"accesstest"), L"TimeOut");
    EXPECT_EQ(Progress(L"ct-invalid.invalid"), -14);
    EXPECT_EQ(engine.Value(L"ct-invalid.invalid", L"accesstest"), L"OtherError");
    EXPECT_EQ(Progress(gone), -3);
    EXPECT_EQ(engine.Value(gone, L"accesstest"), L"TimeOut");

    // The exchange was preceded by its priming request, which settled the Digest credentials.
    const auto requests = fleet.Sim().Requests("ct-idle.invalid");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(TextOf(requests[0], "answer"), "challenge");
    EXPECT_EQ(TextOf(requests[1], "request"), "priming");
    EXPECT_TRUE(requests[1]["credentials"].get<bool>());
    EXPECT_EQ(TextOf(requests[2], "request"), "GetInformation");
    EXPECT_TRUE(requests[2]["credentials"].get<bool>());
}

TEST_F(EngineE2E, DeviceGoneBehindTheProxyIsATimeOut) {
    {
        Fleet fleet(FleetOf({Device("keep.invalid", {{"firmware", "Ver.2.50TC"}})}));
        ASSERT_TRUE(fleet.Sim().Started());
        Test({L"keep.invalid"});
        ASSERT_EQ(Progress(L"keep.invalid"), 100);
    }
    Fleet empty(FleetOf({Device("someone-else.invalid")}));
    ASSERT_TRUE(empty.Sim().Started());
    Test({L"keep.invalid"});
    // Through a proxy a dead host answers 502: a response other than 200, so the test's
    // values are emptied and the device reads as timed out.
    EXPECT_EQ(Progress(L"keep.invalid"), -3);
    EXPECT_EQ(engine.Value(L"keep.invalid", L"version"), L"");
    EXPECT_EQ(engine.Value(L"keep.invalid", L"accesstest"), L"TimeOut");
}

TEST_F(EngineE2E, FullRewriteWithTheCarriedImage) {
    Fleet fleet(FleetOf({Device("full.invalid")}), {"--image", VORTA_CARRIED_IMAGE_PATH});
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    ASSERT_TRUE(engine.Model().LoadUpdateImage(Wide(VORTA_CARRIED_IMAGE_PATH).c_str()));
    engine.UseOnly({L"full.invalid"});
    ASSERT_TRUE(engine.Controller().StartUpdate(L"skip"));
    // Progress moves through the plan while the job runs; the busy model refuses changes.
    EXPECT_FALSE(engine.Model().AddDevice(L"late.invalid"));
    EXPECT_FALSE(engine.Controller().StartCommunicationTest());
    ASSERT_TRUE(engine.WaitUntilIdle());
    EXPECT_EQ(Progress(L"full.invalid"), 100);
    EXPECT_EQ(engine.Value(L"full.invalid", L"afterversion"), L"Ver.3.01TC");

    const std::vector<std::string> plan = {"GetInformation",
                                           "ChangeMode:BackupSettingValue",
                                           "GetInformation",
                                           "ChangeMode:ReChangeMode",
                                           "Update:CopyWritableRegion",
                                           "Update:WriteUpdateBootStrap",
                                           "Update:Reboot",
                                           "GetInformation",
                                           "ChangeMode:ReChangeMode",
                                           "Update:WriteNewKernel",
                                           "Update:WriteNewRootfs",
                                           "Update:WriteNewWritableRegion",
                                           "Update:WriteNewSnapShot",
                                           "Update:WriteNewBootStrap",
                                           "GetInformation"};  // the new version read back
    std::vector<std::string> seen;
    for (const std::string& exchange : fleet.Exchanges("full.invalid")) {
        // Probes that found the device still restarting are retries, not plan steps.
        if (seen.empty() || exchange != "GetInformation" || seen.back() != "GetInformation") {
            seen.push_back(exchange);
        }
    }
    EXPECT_EQ(seen, plan);
    // Every real request came with credentials right after its priming request, and every
    // upload's digest matched its bytes.
    bool primed = false;
    for (const auto& line : fleet.Sim().Requests("full.invalid")) {
        const std::string type = TextOf(line, "request");
        const std::string answer = TextOf(line, "answer");
        if (answer == "down" || answer == "challenge") {
            continue;
        }
        if (type == "priming") {
            primed = true;
            continue;
        }
        EXPECT_TRUE(primed) << line.dump();
        EXPECT_TRUE(line["credentials"].get<bool>()) << line.dump();
        if (type == "ChangeMode" || type == "Update") {
            EXPECT_EQ(TextOf(line, "digest_check"), "match") << line.dump();
        }
        primed = false;
    }

    Test({L"full.invalid"});
    EXPECT_EQ(engine.Value(L"full.invalid", L"version"), L"Ver.3.01TC");
    EXPECT_EQ(engine.Model().AddDevice(L"late.invalid"), true);
}

TEST_F(EngineE2E, InterruptedUpdatesResumeAtTheRightPart) {
    struct Case {
        int progress;
        const char* firstUpload;  // first part sent after the test
        const char* firmware = "Ver.3.00TC";
    };
    // A device with newer firmware than the image is resumed like any other: the question of a
    // downgrade is for idle devices only.
    const Case cases[] = {{2, "ChangeMode:ReChangeMode"},
                          {4, "ChangeMode:ReChangeMode"},
                          {5, "Update:Reboot"},
                          {6, "ChangeMode:ReChangeMode"},
                          {7, "ChangeMode:ReChangeMode", "Ver.4.00TC"},
                          {10, "ChangeMode:ReChangeMode"},
                          {11, "ChangeMode:BackupSettingValue"}};
    std::vector<nlohmann::json> devices;
    std::vector<std::wstring> hosts;
    for (const Case& c : cases) {
        const std::string host = "resume-" + std::to_string(c.progress) + ".invalid";
        devices.push_back(Device(host, {{"status", "Broken"},
                                        {"progress", c.progress},
                                        {"firmware", c.firmware},
                                        {"update-version", kTestAfterVersion}}));
        hosts.push_back(Wide(host));
    }
    Fleet fleet(FleetOf(devices), ImageArgument());
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    LoadSmallImage();
    Update(hosts, L"skip");
    for (const Case& c : cases) {
        const std::string host = "resume-" + std::to_string(c.progress) + ".invalid";
        const auto exchanges = fleet.Exchanges(host);
        ASSERT_GE(exchanges.size(), 2u) << host;
        EXPECT_EQ(exchanges[1], c.firstUpload) << host;
    }
    // Resumed at part 6: its progress starts at 50 with the eleven-part plan.
    EXPECT_EQ(Progress(L"resume-10.invalid"), 100);
    EXPECT_EQ(Progress(L"resume-7.invalid"), 100);
}

TEST_F(EngineE2E, DowngradeSkipUpdateAndInquiry) {
    Fleet fleet(FleetOf({Device("dg-skip.invalid", {{"firmware", "Ver.3.02TC"}}),
                         Device("dg-update.invalid", {{"firmware", "Ver.3.1"}}),
                         Device("dg-ask-no.invalid", {{"firmware", "Ver.4.00TC"}}),
                         Device("dg-ask-yes.invalid", {{"firmware", "Ver.3.10TC"}})}),
                ImageArgument());
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    LoadSmallImage();

    Update({L"dg-skip.invalid"}, L"skip");
    EXPECT_EQ(Progress(L"dg-skip.invalid"), -16);
    EXPECT_EQ(fleet.Exchanges("dg-skip.invalid"), std::vector<std::string>{"GetInformation"});

    Update({L"dg-update.invalid"}, L"update");
    EXPECT_EQ(Progress(L"dg-update.invalid"), 100);

    engine.UseOnly({L"dg-ask-no.invalid", L"dg-ask-yes.invalid"});
    EXPECT_FALSE(engine.Controller().AnswerInquiry(L"update"));  // nothing waits yet
    ASSERT_TRUE(engine.Controller().StartUpdate(L"inquiry"));
    ASSERT_TRUE(engine.WaitForProgress(L"dg-ask-no.invalid", -15));
    EXPECT_FALSE(engine.Controller().AnswerInquiry(L"inquiry"));
    EXPECT_TRUE(engine.Controller().AnswerInquiry(L"skip"));
    EXPECT_FALSE(engine.Controller().AnswerInquiry(L"skip"));
    ASSERT_TRUE(engine.WaitForProgress(L"dg-ask-yes.invalid", -15));
    EXPECT_EQ(Progress(L"dg-ask-no.invalid"), -16);
    EXPECT_TRUE(engine.Controller().AnswerInquiry(L"update"));
    ASSERT_TRUE(engine.WaitUntilIdle());
    EXPECT_EQ(Progress(L"dg-ask-yes.invalid"), 100);
    EXPECT_EQ(fleet.Exchanges("dg-ask-no.invalid"), std::vector<std::string>{"GetInformation"});
}

TEST_F(EngineE2E, FailuresEndOneDeviceAndTheNextIsStillServed) {
    auto refuse = [](const char* on, const char* part, const char* reason) {
        return nlohmann::json::array(
            {{{"on", on}, {"part", part}, {"action", "refuse"}, {"reason", reason}}});
    };
    auto comeback = [](const char* progress, int times) {
        return nlohmann::json::array({{{"on", "ChangeMode"},
                                       {"part", "BackupSettingValue"},
                                       {"action", "comeback-status"},
                                       {"status", "Broken"},
                                       {"progress", progress},
                                       {"times", times}}});
    };
    struct Case {
        const char* host;
        nlohmann::json faults;
        int progress;
    };
    const std::vector<Case> cases = {
        {"f-cm-invalid.invalid", refuse("ChangeMode", "BackupSettingValue", "InvalidFile"), -14},
        {"f-cm-another.invalid", refuse("ChangeMode", "ReChangeMode", "AnotherUpdating"), -4},
        {"f-cm-notcorr.invalid", refuse("ChangeMode", "BackupSettingValue", "NotCorrespond"), -14},
        {"f-up-modenot.invalid", refuse("Update", "WriteNewKernel", "ModeNotChanged"), -14},
        {"f-up-version.invalid", refuse("Update", "CopyWritableRegion", "VersionNotSame"), -14},
        {"f-up-print.invalid",
         {{{"on", "Update"},
           {"part", "WriteNewRootfs"},
           {"action", "refuse"},
           {"reason", "AnotherApp"},
           {"app-name", "Print"}}},
         -5},
        // A connection that drops every time ends in a time-out once the client's own
        // resends are spent.
        {"f-drop.invalid", {{{"on", "Update"}, {"part", 3}, {"action", "drop"}, {"times", 0}}}, -3},
        // Dropped once, the part is sent again on a new connection; this device counts the
        // cut upload as a broken update mode and refuses the repeat.
        {"f-drop-once.invalid", {{{"on", "Update"}, {"part", 3}, {"action", "drop"}}}, -14},
        {"f-500.invalid", {{{"on", "ChangeMode"}, {"action", "status"}, {"code", 500}}}, -3},
        {"f-schema.invalid", {{{"on", "Update"}, {"part", 7}, {"action", "schema-invalid"}}}, -14},
        {"f-nonutf8.invalid", {{{"on", "Update"}, {"part", 4}, {"action", "non-utf8"}}}, -14},
        {"f-never.invalid", {{{"action", "no-comeback"}}}, -3},
        {"f-back-busy.invalid",
         {{{"action", "comeback-status"}, {"status", "AnotherUpdating"}}},
         -4},
        // Back from a restart with an unfinished update at a part the plan cannot continue
        // from, or at part 1 after every restart: the device ends, it never shows success.
        {"f-back-broken-12.invalid", comeback("12", 1), -14},
        {"f-back-broken-0.invalid", comeback("0", 1), -14},
        {"f-back-broken-1.invalid", comeback("1", 0), -14},
        {"f-back-free-text.invalid", comeback("NormalEnd", 1), -14},
    };
    std::vector<nlohmann::json> devices;
    std::vector<std::wstring> hosts;
    for (const Case& c : cases) {
        devices.push_back(Device(c.host, {{"faults", c.faults}}));
        hosts.push_back(Wide(c.host));
    }
    devices.push_back(Device("f-fine.invalid"));
    hosts.push_back(L"f-fine.invalid");
    Fleet fleet(FleetOf(devices), ImageArgument());
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    LoadSmallImage();
    Update(hosts, L"update");
    for (const Case& c : cases) {
        EXPECT_EQ(Progress(Wide(c.host)), c.progress) << c.host;
    }
    EXPECT_EQ(Progress(L"f-fine.invalid"), 100);
    // Nothing is sent after a refused part.
    const auto modeNot = fleet.Exchanges("f-up-modenot.invalid");
    EXPECT_EQ(modeNot.back(), "Update:WriteNewKernel");
}

// A device that refuses the first change mode as busy never entered its update mode: it does
// not count, so a stop after one failure still rewrites the healthy devices after it. A busy
// refusal of part 8, inside the update mode, counts, and the job stops there.
TEST_F(EngineE2E, ABusyRefusalBeforeTheUpdateModeIsNoCountedFailure) {
    auto busyOn = [](const char* on, const nlohmann::json& part) {
        return nlohmann::json{{"faults",
                               {{{"on", on},
                                 {"part", part},
                                 {"action", "refuse"},
                                 {"reason", "AnotherApp"},
                                 {"app-name", "Print"}}}}};
    };
    Fleet fleet(
        FleetOf({Device("sb-switch.invalid", busyOn("ChangeMode", "BackupSettingValue")),
                 Device("sb-ok-1.invalid"), Device("sb-ok-2.invalid"),
                 Device("sb-part-8.invalid", busyOn("Update", 8)), Device("sb-after.invalid")}),
        ImageArgument());
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    LoadSmallImage();
    ASSERT_TRUE(engine.Settings().SetDevicesAtATime(1));
    ASSERT_TRUE(engine.Settings().SetStopAfterFailures(1));

    Update({L"sb-switch.invalid", L"sb-ok-1.invalid", L"sb-ok-2.invalid"}, L"update");
    EXPECT_EQ(engine.Settings().GetCountedFailures(), 0);
    EXPECT_EQ(Progress(L"sb-switch.invalid"), -5);
    EXPECT_EQ(fleet.Exchanges("sb-switch.invalid"),
              (std::vector<std::string>{"GetInformation", "ChangeMode:BackupSettingValue"}));
    for (const wchar_t* host : {L"sb-switch.invalid", L"sb-ok-1.invalid", L"sb-ok-2.invalid"}) {
        EXPECT_EQ(engine.Value(host, L"failurecounted"), L"") << Narrow(host);
    }
    EXPECT_EQ(Progress(L"sb-ok-1.invalid"), 100);
    EXPECT_EQ(Progress(L"sb-ok-2.invalid"), 100);

    Update({L"sb-part-8.invalid", L"sb-after.invalid"}, L"update");
    EXPECT_EQ(engine.Settings().GetCountedFailures(), 1);
    EXPECT_EQ(Progress(L"sb-part-8.invalid"), -5);
    EXPECT_EQ(engine.Value(L"sb-part-8.invalid", L"failurecounted"), L"true");
    EXPECT_EQ(Progress(L"sb-after.invalid"), -20);
    EXPECT_EQ(engine.Value(L"sb-after.invalid", L"failurecounted"), L"");
    EXPECT_TRUE(fleet.Sim().Requests("sb-after.invalid").empty());
    ASSERT_TRUE(engine.Settings().SetStopAfterFailures(0));
}

// A device that indents its answers reads exactly like one that does not: each case runs on a
// compact device and on an indented twin.
TEST_F(EngineE2E, IndentedAnswersReadLikeCompactOnesInTheTest) {
    struct Case {
        const char* name;
        nlohmann::json fields;
        int progress;
        const wchar_t* accesstest;
    };
    const std::vector<Case> cases = {
        {"idle", nlohmann::json::object(), 100, L"Idle"},
        {"busy", {{"status", "AnotherApp"}, {"app-name", "Print"}}, -5, L"Print"},
        {"broken", {{"status", "Broken"}, {"progress", 5}}, 100, L"5"},
        {"refused",
         {{"faults",
           {{{"on", "GetInformation"}, {"action", "refuse"}, {"reason", "StatusFailed"}}}}},
         -14,
         L"StatusFailed"},
    };
    std::vector<nlohmann::json> devices;
    std::vector<std::wstring> hosts;
    for (const Case& c : cases) {
        for (const bool pretty : {false, true}) {
            const std::string host = std::string(pretty ? "pt-" : "ct-") + c.name + ".invalid";
            nlohmann::json fields = c.fields;
            fields["pretty"] = pretty;
            devices.push_back(Device(host, fields));
            hosts.push_back(Wide(host));
        }
    }
    Fleet fleet(FleetOf(devices));
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    Test(hosts);
    for (const Case& c : cases) {
        const std::wstring compact = Wide(std::string("ct-") + c.name + ".invalid");
        const std::wstring indented = Wide(std::string("pt-") + c.name + ".invalid");
        for (const std::wstring& host : {compact, indented}) {
            SCOPED_TRACE(Narrow(host));
            EXPECT_EQ(Progress(host), c.progress);
            EXPECT_EQ(engine.Value(host, L"accesstest"), c.accesstest);
        }
        for (const wchar_t* key : {L"modelname", L"version"}) {
            EXPECT_EQ(engine.Value(indented, key), engine.Value(compact, key))
                << c.name << " " << Narrow(key);
        }
    }
}

TEST_F(EngineE2E, IndentedAnswersSteerAnUpdate) {
    struct Case {
        const char* host;
        nlohmann::json fields;
        int progress;
        const char* firstAfterTest;  // the first exchange after the test; "" for none
    };
    const std::vector<Case> cases = {
        {"pu-fine.invalid", nlohmann::json::object(), 100, "ChangeMode:BackupSettingValue"},
        {"pu-resume-5.invalid",
         {{"status", "Broken"}, {"progress", 5}, {"update-version", kTestAfterVersion}},
         100,
         "Update:Reboot"},
        {"pu-resume-7.invalid",
         {{"status", "Broken"}, {"progress", 7}, {"update-version", kTestAfterVersion}},
         100,
         "ChangeMode:ReChangeMode"},
        {"pu-busy.invalid", {{"status", "AnotherApp"}, {"app-name", "Print"}}, -5, ""},
        {"pu-refused-busy.invalid",
         {{"faults",
           {{{"on", "Update"},
             {"part", "WriteNewRootfs"},
             {"action", "refuse"},
             {"reason", "AnotherApp"},
             {"app-name", "WebConfig"}}}}},
         -7,
         "ChangeMode:BackupSettingValue"},
        {"pu-back-busy.invalid",
         {{"faults",
           {{{"action", "comeback-status"}, {"status", "AnotherApp"}, {"app-name", "Utility"}}}}},
         -9,
         "ChangeMode:BackupSettingValue"},
    };
    std::vector<nlohmann::json> devices;
    std::vector<std::wstring> hosts;
    for (const Case& c : cases) {
        nlohmann::json fields = c.fields;
        fields["pretty"] = true;
        devices.push_back(Device(c.host, fields));
        hosts.push_back(Wide(c.host));
    }
    Fleet fleet(FleetOf(devices), ImageArgument());
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    LoadSmallImage();
    Update(hosts, L"update");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(Progress(Wide(c.host)), c.progress);
        const auto exchanges = fleet.Exchanges(c.host);
        ASSERT_FALSE(exchanges.empty());
        EXPECT_EQ(exchanges[0], "GetInformation");
        EXPECT_EQ(exchanges.size() > 1 ? exchanges[1] : std::string(), c.firstAfterTest);
    }
}

// Many devices at once end every device exactly as one at a time does: resumed, skipped, asked,
// refused, never back.
TEST_F(EngineE2E, DevicesAtATimeGiveTheSameResultsAsOneAtATime) {
    auto devices = [] {
        return FleetOf({
            Device("w-idle.invalid"),
            Device("w-resume-5.invalid", {{"status", "Broken"}, {"progress", 5}}),
            Device("w-resume-7.invalid", {{"status", "Broken"}, {"progress", 7}}),
            Device("w-newer-skip.invalid", {{"firmware", "Ver.3.10TC"}}),
            Device("w-ask-yes.invalid", {{"firmware", "Ver.4.00TC"}}),
            Device("w-ask-no.invalid", {{"firmware", "Ver.4.10TC"}}),
            Device("w-refuse.invalid", {{"faults",
                                         {{{"on", "Update"},
                                           {"part", "WriteNewKernel"},
                                           {"action", "refuse"},
                                           {"reason", "AnotherApp"},
                                           {"app-name", "Print"}}}}}),
            Device("w-never.invalid", {{"faults", {{{"action", "no-comeback"}}}}}),
            Device("w-busy.invalid", {{"status", "AnotherUpdating"}}),
            Device("w-plain-1.invalid"),
            Device("w-plain-2.invalid"),
        });
    };
    const std::vector<std::wstring> hosts = {
        L"w-idle.invalid",    L"w-resume-5.invalid", L"w-resume-7.invalid", L"w-newer-skip.invalid",
        L"w-ask-yes.invalid", L"w-ask-no.invalid",   L"w-refuse.invalid",   L"w-never.invalid",
        L"w-busy.invalid",    L"w-plain-1.invalid",  L"w-plain-2.invalid"};
    std::map<std::wstring, int> results[2];
    const int widths[2] = {1, 32};
    for (int run = 0; run < 2; ++run) {
        Fleet fleet(devices(), ImageArgument());
        ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
        LoadSmallImage();
        ASSERT_TRUE(engine.Settings().SetDevicesAtATime(widths[run]));
        engine.UseOnly(hosts);
        // "w-newer-skip" is asked too; only "w-ask-yes" is answered with a rewrite.
        ASSERT_TRUE(engine.Controller().StartUpdate(L"inquiry"));
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while (!engine.WaitUntilIdle(0s) && std::chrono::steady_clock::now() < deadline) {
            for (const std::wstring& host : hosts) {
                if (Progress(host) == -15) {
                    engine.Controller().AnswerInquiry(host == L"w-ask-yes.invalid" ? L"update"
                                                                                   : L"skip");
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        for (const std::wstring& host : hosts) {
            results[run][host] = Progress(host);
            EXPECT_EQ(engine.Value(host, L"phase"), L"") << e2e::Narrow(host);
        }
    }
    ASSERT_TRUE(engine.Settings().SetDevicesAtATime(1));
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0][L"w-idle.invalid"], 100);
    EXPECT_EQ(results[0][L"w-resume-7.invalid"], 100);
    EXPECT_EQ(results[0][L"w-ask-yes.invalid"], 100);
    EXPECT_EQ(results[0][L"w-ask-no.invalid"], -16);
    EXPECT_EQ(results[0][L"w-refuse.invalid"], -5);
    EXPECT_EQ(results[0][L"w-never.invalid"], -3);
    EXPECT_EQ(results[0][L"w-busy.invalid"], -4);
}

// A drained job, 2 devices at a time, drained as soon as the first device has ended: exactly
// the devices that had started finish, the others end "NotStarted" (-20) and the simulator
// never heard of them. The first device is quick; the others take a while over every test
// exchange, so at most one more can have started.
TEST_F(EngineE2E, ADrainedJobFinishesTheStartedDevicesAndTouchesNoOther) {
    const nlohmann::json slowTest = {
        {{"on", "GetInformation"}, {"action", "delay"}, {"ms", 700}, {"times", 0}}};
    std::vector<nlohmann::json> devices = {Device("dr-0.invalid")};
    std::vector<std::wstring> hosts = {L"dr-0.invalid"};
    for (int i = 1; i < 8; ++i) {
        const std::string host = "dr-" + std::to_string(i) + ".invalid";
        devices.push_back(Device(host, {{"faults", slowTest}}));
        hosts.push_back(Wide(host));
    }
    for (const bool rewrite : {false, true}) {
        SCOPED_TRACE(rewrite ? "rewrite" : "communication test");
        Fleet fleet(FleetOf(devices), ImageArgument());
        ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
        LoadSmallImage();
        ASSERT_TRUE(engine.Settings().SetDevicesAtATime(2));
        engine.UseOnly(hosts);
        ASSERT_TRUE(rewrite ? engine.Controller().StartUpdate(L"update")
                            : engine.Controller().StartCommunicationTest());
        ASSERT_TRUE(engine.WaitForProgress(L"dr-0.invalid", 100));
        EXPECT_TRUE(engine.Settings().StopStartingDevices());
        ASSERT_TRUE(engine.WaitUntilIdle());
        EXPECT_FALSE(engine.Settings().StopStartingDevices());  // the job has ended
        int finished = 0;
        for (const std::wstring& host : hosts) {
            const std::string name = Narrow(host);
            const int progress = Progress(host);
            EXPECT_TRUE(progress == 100 || progress == -20) << name << " " << progress;
            EXPECT_EQ(fleet.Sim().Requests(name).empty(), progress == -20) << name;
            if (progress == 100) {
                ++finished;
                if (rewrite) {
                    EXPECT_EQ(fleet.Exchanges(name).back(), "GetInformation") << name;
                }
            }
        }
        EXPECT_GE(finished, 2);
        EXPECT_LE(finished, 3);
    }
    ASSERT_TRUE(engine.Settings().SetDevicesAtATime(1));
}

namespace {

// The process's open descriptors, and those of them that are files under folder.
struct SDescriptors {
    std::size_t all = 0;
    std::size_t under = 0;
};

SDescriptors OpenDescriptors(const std::filesystem::path& folder) {
    SDescriptors count;
    const std::string prefix = folder.string() + "/";
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count.all;
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target.string().starts_with(prefix)) {
            ++count.under;
        }
    }
    return count;
}

}  // namespace

// A drained job over many devices with traces on: a trace file is open only while its device
// runs, and a device never started gets no file at all, so a stop over thousands of devices
// holds no descriptor per device.
TEST_F(EngineE2E, ADrainedJobHoldsNoTraceFilePerDeviceNeverStarted) {
    constexpr int kTargets = 2000;
    constexpr std::size_t kAtATime = 2;
    // A device in progress holds its trace file and its connection's socket and wake-up pair.
    constexpr std::size_t kPerDevice = 4;
    constexpr std::size_t kFew = 4;  // the trace folder, open until the next job
    const nlohmann::json slowTest = {
        {{"on", "GetInformation"}, {"action", "delay"}, {"ms", 700}, {"times", 0}}};
    // Only the first three can start before the drain; the others need not exist.
    Fleet fleet(FleetOf({Device("fd-0.invalid"), Device("fd-1.invalid", {{"faults", slowTest}}),
                         Device("fd-2.invalid", {{"faults", slowTest}})}),
                ImageArgument());
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    LoadSmallImage();
    std::vector<std::wstring> hosts;
    for (int i = 0; i < kTargets; ++i) {
        hosts.push_back(Wide("fd-" + std::to_string(i) + ".invalid"));
    }
    ASSERT_TRUE(engine.Settings().SetDevicesAtATime(static_cast<int>(kAtATime)));
    engine.UseOnly(hosts);
    TempFolder traces;
    const SDescriptors before = OpenDescriptors(traces.Path());
    {
        TracesTo tracing(traces.Path());
        ASSERT_TRUE(engine.Controller().StartUpdate(L"update"));
    }
    ASSERT_TRUE(engine.WaitForProgress(L"fd-0.invalid", 100));
    ASSERT_TRUE(engine.Settings().StopStartingDevices());
    // Every device never started has ended by now; one or two still run.
    ASSERT_EQ(Progress(hosts.back()), -20);
    const SDescriptors drained = OpenDescriptors(traces.Path());
    EXPECT_LE(drained.under, kAtATime);
    EXPECT_LE(drained.all, before.all + kPerDevice * kAtATime + kFew);
    ASSERT_TRUE(engine.WaitUntilIdle());
    const SDescriptors ended = OpenDescriptors(traces.Path());
    EXPECT_EQ(ended.under, 0u);
    EXPECT_LE(ended.all, before.all + kFew);
    ASSERT_TRUE(engine.Settings().SetDevicesAtATime(1));

    std::size_t started = 0;
    std::size_t tracedNotStarted = 0;
    for (const std::wstring& host : hosts) {
        const std::filesystem::path file = traces.Path() / (Narrow(host) + ".jsonl");
        if (Progress(host) == -20) {
            tracedNotStarted += std::filesystem::exists(file) ? 1 : 0;
            continue;
        }
        ++started;
        const std::vector<nlohmann::json> trace = TraceLines(file);
        ASSERT_GE(trace.size(), 2u) << Narrow(host);
        EXPECT_EQ(trace.front()["event"], "job");
        EXPECT_EQ(trace.back()["event"], "end");
        EXPECT_EQ(trace.back()["progress"], 100);
    }
    EXPECT_EQ(tracedNotStarted, 0u);
    EXPECT_GE(started, kAtATime);
    EXPECT_LE(started, kAtATime + 1);
    EXPECT_EQ(static_cast<std::size_t>(
                  std::distance(std::filesystem::directory_iterator(traces.Path()), {})),
              started);
}

// A device that fails at part 8 leaves a trace that names the part and what it got, holds no
// credentials, and played back by the simulator makes the engine end the device the same way,
// over the same round trips. A device rewritten without fault replays its restarts too.
TEST_F(EngineE2E, TracesNameTheFailedPartAndReplayToTheSameResult) {
    struct Case {
        const char* host;
        nlohmann::json faults;
        int progress;
        const char* result;
        std::optional<int> part8Status;  // none: the connection closed without an answer
        int part8Resends;
    };
    const std::vector<Case> cases = {
        {"tr-refuse.invalid",
         {{{"on", "Update"}, {"part", 8}, {"action", "refuse"}, {"reason", "InvalidFile"}}},
         -14,
         "InvalidFile",
         200,
         0},
        // The client sends the part again on a new connection, which is dropped too.
        {"tr-drop.invalid",
         {{{"on", "Update"}, {"part", 8}, {"action", "drop"}, {"times", 0}}},
         -3,
         "TimeOut",
         std::nullopt,
         1},
        // Dropped once: the client's resend is answered, with a refusal of the cut update.
        {"tr-drop-once.invalid",
         {{{"on", "Update"}, {"part", 8}, {"action", "drop"}}},
         -14,
         "ModeNotChanged",
         200,
         1},
        {"tr-fine.invalid", nlohmann::json::array(), 100, "NormalEnd", 200, 0},
    };
    TempFolder traces;
    const std::filesystem::path recorded =
        traces.Path() / "field" / "traces";  // made by the engine
    std::vector<nlohmann::json> devices;
    std::vector<std::wstring> hosts;
    for (const Case& c : cases) {
        devices.push_back(Device(c.host, {{"faults", c.faults}}));
        hosts.push_back(Wide(c.host));
    }
    {
        Fleet fleet(FleetOf(devices), ImageArgument());
        ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
        LoadSmallImage();
        // All devices at once: each trace must still hold its own device's lines only.
        ASSERT_TRUE(engine.Settings().SetDevicesAtATime(static_cast<int>(cases.size())));
        TracesTo tracing(recorded);
        Update(hosts, L"update");
        ASSERT_TRUE(engine.Settings().SetDevicesAtATime(1));
    }
    struct stat folder {};
    ASSERT_EQ(::stat(recorded.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    const std::regex rfc3339(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");

    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        ASSERT_EQ(Progress(Wide(c.host)), c.progress);
        const std::filesystem::path file = recorded / (std::string(c.host) + ".jsonl");
        struct stat status {};
        ASSERT_EQ(::stat(file.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        const std::string text = Lower(FileText(file));
        for (const char* secret : {"tz8wq3-k", "authorization", "nonce", "www-authenticate"}) {
            EXPECT_EQ(text.find(secret), std::string::npos) << secret;
        }
        const std::vector<nlohmann::json> trace = TraceLines(file);
        ASSERT_GE(trace.size(), 3u);
        EXPECT_EQ(trace.front()["event"], "job");
        EXPECT_EQ(trace.front()["job"], "update");
        EXPECT_EQ(trace.front()["image_version"], kTestAfterVersion);
        EXPECT_EQ(trace.back()["event"], "end");
        EXPECT_EQ(trace.back()["progress"], c.progress);
        EXPECT_EQ(trace.back()["result"], c.result);
        for (const auto& line : trace) {
            EXPECT_TRUE(std::regex_match(line["time"].get<std::string>(), rfc3339)) << line;
            EXPECT_EQ(line["host"], c.host);
        }
        // The last Update round trip of part 8: the failure, or the fine device's upload.
        const auto part8 = std::find_if(trace.rbegin(), trace.rend(), [](const nlohmann::json& l) {
            return l["event"] == "exchange" && l["request"] == "Update" && l["part_number"] == 8;
        });
        ASSERT_NE(part8, trace.rend());
        EXPECT_EQ((*part8)["part"], "WriteNewRootfs");
        EXPECT_EQ((*part8)["resends"], c.part8Resends);
        EXPECT_GT((*part8)["bytes_sent"].get<long long>(), 0);
        if (c.part8Status) {
            EXPECT_EQ((*part8)["status"], *c.part8Status);
        } else {
            EXPECT_TRUE((*part8)["status"].is_null());
            EXPECT_FALSE((*part8)["error"].get<std::string>().empty());
        }
        if (c.progress == -14) {
            EXPECT_NE((*part8)["answer"].get<std::string>().find("success=\"false\""),
                      std::string::npos);
        }
        if (c.progress == 100) {
            // Both restarts were waited for and probed; the last request read the version back.
            EXPECT_EQ(
                std::count_if(trace.begin(), trace.end(),
                              [](const nlohmann::json& l) { return l["event"] == "restart-wait"; }),
                2);
            EXPECT_TRUE(std::any_of(trace.begin(), trace.end(), [](const nlohmann::json& l) {
                return l["event"] == "exchange" && l.contains("probe");
            }));
        }
    }

    // Each trace played back: the same result through the engine, over the same round trips,
    // every one of them served and nothing asked of the device that the trace does not hold.
    const std::filesystem::path replayed = traces.Path() / "bench";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        const std::filesystem::path original = recorded / (std::string(c.host) + ".jsonl");
        Fleet replay(Fleet::ReplayOf{original});
        ASSERT_TRUE(replay.Sim().Started()) << replay.Sim().StandardError();
        {
            TracesTo tracing(replayed);
            Update({Wide(c.host)}, L"update");
        }
        EXPECT_EQ(Progress(Wide(c.host)), c.progress);
        EXPECT_EQ(RoundTrips(TraceLines(replayed / (std::string(c.host) + ".jsonl"))),
                  RoundTrips(TraceLines(original)));
        for (const auto& line : replay.Sim().Requests(c.host)) {
            EXPECT_NE(TextOf(line, "answer"), "diverged") << line;
            EXPECT_NE(TextOf(line, "answer"), "exhausted") << line;
        }
        ASSERT_EQ(replay.Sim().Stop(), 0);
        const auto events = replay.Sim().Events();
        const auto summary = std::find_if(events.begin(), events.end(),
                                          [](const auto& e) { return e["event"] == "summary"; });
        ASSERT_NE(summary, events.end());
        EXPECT_EQ((*summary)["replayed"], (*summary)["recorded"]);
    }
}

// A trace is written only to a file of this user's own: a link planted under a device's name
// is never followed, and that device's job goes on untraced.
TEST_F(EngineE2E, TracesNeverFollowALinkPlantedInTheFolder) {
    Fleet fleet(FleetOf({Device("tl-linked.invalid"), Device("tl-plain.invalid")}));
    ASSERT_TRUE(fleet.Sim().Started()) << fleet.Sim().StandardError();
    TempFolder traces;
    const std::filesystem::path victim = traces.Write("victim.txt", "untouched\n");
    std::filesystem::create_symlink(victim, traces.Path() / "tl-linked.invalid.jsonl");
    {
        TracesTo tracing(traces.Path());
        Test({L"tl-linked.invalid", L"tl-plain.invalid"});
    }
    EXPECT_EQ(Progress(L"tl-linked.invalid"), 100);
    EXPECT_EQ(FileText(victim), "untouched\n");
    const std::vector<nlohmann::json> plain = TraceLines(traces.Path() / "tl-plain.invalid.jsonl");
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(plain.front()["job"], "test");
    EXPECT_EQ(RoundTrips(plain),
              (std::vector<std::string>{"priming -> 200", "GetInformation -> 200"}));
    EXPECT_EQ(plain.back()["result"], "NormalEnd");
}
