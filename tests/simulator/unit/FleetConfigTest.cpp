#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "simulator/CCommandLine.h"
#include "simulator/CFaultScript.h"
#include "simulator/CFleetConfig.h"

using namespace talbo::tesk::vorta::devsim;

TEST(FleetConfig, DefaultsMakeThreeProxyDevices) {
    std::string error;
    auto fleet = BuildFleet(FleetRequest{}, error);
    ASSERT_TRUE(fleet) << error;
    ASSERT_EQ(fleet->size(), 3u);
    EXPECT_EQ((*fleet)[0].host, "device-1.invalid");
    EXPECT_EQ((*fleet)[2].host, "device-3.invalid");
    EXPECT_EQ((*fleet)[0].model, "QX-Vorta-1000");
    EXPECT_EQ((*fleet)[0].firmware, "Ver.3.00TC");
    EXPECT_EQ((*fleet)[0].status, "Idle");
    EXPECT_EQ((*fleet)[0].auth, AuthScheme::Digest);
}

TEST(FleetConfig, DeviceFieldsBeatFlagsWhichBeatDefaults) {
    FleetRequest request;
    request.overrides.firmware = "Ver.flag";
    request.overrides.restartMs = 10;
    std::string error;
    auto fleet = FleetFromJson(
        R"({"defaults": {"firmware": "Ver.default", "model": "M-default", "auth": "basic", "pretty": true},
        "devices": [ {"host": "a.invalid"},
                     {"host": "b.invalid", "firmware": "Ver.own", "status": "Broken", "progress": 5, "pretty": false,
                      "faults": [{"on": "Update", "part": "3", "action": "drop", "after-bytes": 10}]} ]})",
        request, error);
    ASSERT_TRUE(fleet) << error;
    EXPECT_EQ((*fleet)[0].firmware, "Ver.flag");
    EXPECT_EQ((*fleet)[0].model, "M-default");
    EXPECT_EQ((*fleet)[0].auth, AuthScheme::Basic);
    EXPECT_EQ((*fleet)[0].restartMs, 10);
    EXPECT_TRUE((*fleet)[0].pretty);
    EXPECT_FALSE((*fleet)[1].pretty);
    EXPECT_EQ((*fleet)[1].firmware, "Ver.own");
    EXPECT_EQ((*fleet)[1].progress, "5");
    ASSERT_EQ((*fleet)[1].faults.size(), 1u);
    EXPECT_EQ((*fleet)[1].faults[0].action, FaultAction::Drop);
    EXPECT_EQ((*fleet)[1].faults[0].afterBytes, 10u);
}

TEST(FleetConfig, RefusesWhatItCannotServe) {
    struct Case {
        const char* json;
        bool direct;
        const char* expected;
    } cases[] = {
        {R"({"devices": []})", false, "no device"},
        {R"({"devices": [{"host": "a.invalid", "colour": "red"}]})", false,
         "unknown field \"colour\""},
        {R"({"devices": [{"host": "a.invalid"}, {"host": "A.invalid"}]})", false, "appears twice"},
        {R"({"devices": [{"host": "bad_name"}]})", false, "not a host name"},
        {R"({"devices": [{"host": "a.invalid"}]})", true, "no \"listen\""},
        {R"({"devices": [{"listen": "10.0.0.1:80"}]})", true, "not a loopback address"},
        {R"({"devices": [{"listen": "127.0.0.1\u0000x"}]})", true, "NUL character"},
        {R"({"devices": [{"host": "a.invalid", "auth": "ntlm"}]})", false, "digest, basic or none"},
        {R"({"devices": [{"host": "a.invalid", "pretty": "yes"}]})", false, "true or false"},
        {R"({"devices": [{"host": "a.invalid", "status": "AnotherApp"}]})", false,
         "no \"app-name\""},
        {R"({"devices": [{"host": "a.invalid", "faults": [{"action": "explode"}]}]})", false,
         "unknown fault action"},
        {R"({"devices": [{"host": "a.invalid", "faults": [{"action": "status"}]}]})", false,
         "needs a \"code\""},
        {R"({"devices": [{"host": "a.invalid", "faults": [{"on": "Upload", "action": "drop"}]}]})",
         false, "fault \"on\""},
        {"{not json", false, "not valid JSON"},
    };
    for (const auto& c : cases) {
        FleetRequest request;
        request.direct = c.direct;
        std::string error;
        EXPECT_FALSE(FleetFromJson(c.json, request, error)) << c.json;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.json << ": " << error;
    }
}

TEST(FleetConfig, DirectModeGeneratesOneLoopbackAddressPerDevice) {
    FleetRequest request;
    request.direct = true;
    request.directPort = 8081;
    request.generatedDevices = 2;
    std::string error;
    auto fleet = BuildFleet(request, error);
    ASSERT_TRUE(fleet) << error;
    EXPECT_EQ((*fleet)[0].host, "127.0.0.2");
    EXPECT_EQ((*fleet)[1].listen->ToString(), "127.0.0.3:8081");
}

// Through the proxy devices are only names, so thousands fit; direct mode runs out of loopback
// addresses after 250.
TEST(FleetConfig, GeneratedDevicesUpToTheLimitOfTheMode) {
    const struct {
        bool direct;
        int devices;
        bool accepted;
    } cases[] = {{false, 2000, true},
                 {false, 10000, true},
                 {false, 10001, false},
                 {true, 250, true},
                 {true, 251, false}};
    for (const auto& c : cases) {
        FleetRequest request;
        request.direct = c.direct;
        request.generatedDevices = c.devices;
        std::string error;
        const auto fleet = BuildFleet(request, error);
        EXPECT_EQ(fleet.has_value(), c.accepted) << c.devices << (c.direct ? " direct" : "");
        if (fleet) {
            EXPECT_EQ(fleet->size(), static_cast<std::size_t>(c.devices));
            EXPECT_EQ(fleet->back().host, c.direct
                                              ? "127.0.0.251"
                                              : "device-" + std::to_string(c.devices) + ".invalid");
        }
    }
}

TEST(FaultScript, FiresFromItsOccurrenceForItsNumberOfTimes) {
    std::string error;
    auto fault = FaultFromJson(nlohmann::json::parse(
                                   R"({"on": "Update", "part": "7", "occurrence": 2, "times": 2,
                                       "action": "status", "code": 500})"),
                               error);
    ASSERT_TRUE(fault) << error;
    CFaultScript script({*fault});
    EXPECT_TRUE(script.Fire(RequestKind::Update, "WriteNewKernel", 7).empty());      // 1st
    EXPECT_TRUE(script.Fire(RequestKind::ChangeMode, "WriteNewKernel", 7).empty());  // other kind
    EXPECT_TRUE(script.Fire(RequestKind::Update, "Reboot", 5).empty());              // other part
    EXPECT_EQ(script.Fire(RequestKind::Update, "WriteNewKernel", 7).size(), 1u);     // 2nd
    EXPECT_EQ(script.Fire(RequestKind::Update, "x", 7).size(), 1u);              // 3rd, by number
    EXPECT_TRUE(script.Fire(RequestKind::Update, "WriteNewKernel", 7).empty());  // used up

    auto always = FaultFromJson(
        nlohmann::json::parse(R"({"action": "status", "code": 401, "times": 0})"), error);
    CFaultScript forever({*always});
    for (auto kind : {RequestKind::Priming, RequestKind::GetInformation, RequestKind::Update}) {
        EXPECT_EQ(forever.Fire(kind, "", 0).size(), 1u);
    }
}

TEST(CommandLine, ReadsFlagsAndRefusesNonsense) {
    std::string error;
    auto options = ParseCommandLine(
        {"--listen", "127.0.0.1:0", "--devices=5", "--auth", "basic", "--restart-ms", "250",
         "--pretty", "--fault", "*={\"action\":\"delay\",\"ms\":5}"},
        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->listen.port, 0);
    EXPECT_EQ(options->fleet.generatedDevices, 5);
    EXPECT_EQ(options->fleet.overrides.auth, AuthScheme::Basic);
    EXPECT_EQ(options->fleet.overrides.restartMs, 250);
    EXPECT_EQ(options->fleet.overrides.pretty, true);
    ASSERT_EQ(options->fleet.extraFaults.size(), 1u);
    EXPECT_EQ(options->fleet.extraFaults[0].first, "*");

    for (std::vector<std::string> bad : {std::vector<std::string>{"--listen", "192.168.1.1:80"},
                                         {"--devices", "0"},
                                         {"--frobnicate"},
                                         {"--auth", "ntlm"},
                                         {"--fault", "nojson"},
                                         {"--direct", "--listen", "127.0.0.1:1"},
                                         {"--log"}}) {
        EXPECT_FALSE(ParseCommandLine(bad, error)) << bad[0];
    }
}
