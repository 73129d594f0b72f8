// Faults a device can be told to show, seen from a client.

#include <gtest/gtest.h>

#include "DeviceClient.h"
#include "SimulatorProcess.h"
#include "TestImage.h"

using namespace devsim_test;
using namespace std::chrono_literals;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One device per entry: host "f<i>.invalid" with the given faults (a JSON list text).
std::string FleetOf(const std::vector<std::string>& faultLists, int restartMs = 100) {
    std::string text =
        "{\"defaults\": {\"restart-ms\": " + std::to_string(restartMs) + "}, \"devices\": [";
    for (std::size_t i = 0; i < faultLists.size(); ++i) {
        text += (i ? "," : "") + std::string("{\"host\": \"f") + std::to_string(i) +
                ".invalid\", \"faults\": " + faultLists[i] + "}";
    }
    return text + "]}";
}

}  // namespace

TEST(SimulatorFaults, HttpStatusesDelaysAndDamagedBodies) {
    TempFolder folder;
    auto fleet = folder.Write(
        "fleet.json",
        FleetOf({
            R"([{"on": "GetInformation", "action": "status", "code": 404}])",
            R"([{"action": "status", "code": 401, "times": 0}])",
            R"([{"on": "GetInformation", "occurrence": 2, "action": "status", "code": 500}])",
            R"([{"on": "GetInformation", "action": "delay", "ms": 300}])",
            R"([{"on": "GetInformation", "action": "malformed-xml"}])",
            R"([{"on": "GetInformation", "action": "schema-invalid"}])",
            R"([{"on": "GetInformation", "action": "non-utf8"}])",
            R"([{"on": "GetInformation", "action": "oversized", "bytes": 1100000}])",
            R"([{"on": "GetInformation", "action": "busy", "app-name": "Print"}])",
            R"([{"on": "GetInformation", "action": "body", "text": "hello"}])",
        }));
    SimulatorProcess sim({"--fleet", fleet.string()});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto device = [&](int i) {
        return DeviceClient::ViaProxy(sim.Port(), "f" + std::to_string(i) + ".invalid");
    };

    EXPECT_EQ(device(0).GetInformation().status, 404);
    EXPECT_EQ(device(0).GetInformation().status, 200);  // once only
    Reply forever = device(1).GetInformation();
    EXPECT_EQ(forever.status, 401);
    EXPECT_TRUE(Contains(forever.challenge, "Digest realm=\"device@f1.invalid\""));
    EXPECT_EQ(device(1).GetInformation().status, 401);
    EXPECT_EQ(device(2).GetInformation().status, 200);
    EXPECT_EQ(device(2).GetInformation().status, 500);  // from its second occurrence
    Reply slow = device(3).GetInformation();
    EXPECT_EQ(slow.status, 200);
    EXPECT_GE(slow.seconds, 0.3);
    EXPECT_FALSE(Contains(device(4).GetInformation().body, "</tesk-utility>"));
    EXPECT_TRUE(Contains(device(5).GetInformation().body, "success=\"yes\""));
    EXPECT_TRUE(Contains(device(6).GetInformation().body, "\xFF"));
    EXPECT_GE(device(7).GetInformation().body.size(), 1100000u);
    Reply busy = device(8).GetInformation();
    EXPECT_TRUE(
        Contains(busy.body, "<status>AnotherApp<additional-data><another-app app-name=\"Print\"/>"))
        << busy.body;
    EXPECT_EQ(device(9).GetInformation().body, "hello");
    auto line = sim.Requests("f9.invalid").back();
    ASSERT_EQ(line["faults"].size(), 1u);
    EXPECT_EQ(line["faults"][0], "body");
}

TEST(SimulatorFaults, RefusesWithEachReasonOfTheProtocol) {
    const std::vector<std::string> reasons = {"NotCorrespond", "AnotherUpdating", "VersionNotSame",
                                              "InvalidFile",   "OtherError",      "ModeNotChanged"};
    std::vector<std::string> faults;
    for (const auto& reason : reasons) {
        faults.push_back(R"([{"on": "ChangeMode", "action": "refuse", "reason": ")" + reason +
                         "\"}]");
    }
    faults.push_back(
        R"([{"on": "ChangeMode", "action": "refuse", "reason": "AnotherApp", "app-name": "WebConfig"}])");
    faults.push_back(R"([{"on": "ChangeMode", "action": "busy", "app-name": "HIDNotification"}])");
    faults.push_back(
        R"([{"on": "GetInformation", "action": "refuse", "reason": "VersionFailed"}])");
    TempFolder folder;
    SimulatorProcess sim({"--fleet", folder.Write("fleet.json", FleetOf(faults)).string()});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    const std::string file = PseudoRandomBytes(2000, 9);
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        Reply reply = DeviceClient::ViaProxy(sim.Port(), "f" + std::to_string(i) + ".invalid")
                          .ChangeMode(kTestAfterVersion, file);
        EXPECT_TRUE(
            Contains(reply.body, "<response success=\"false\"><reason>" + reasons[i] + "</reason>"))
            << reply.body;
    }
    EXPECT_TRUE(Contains(
        DeviceClient::ViaProxy(sim.Port(), "f6.invalid").ChangeMode(kTestAfterVersion, file).body,
        "<reason>AnotherApp<additional-data><another-app app-name=\"WebConfig\"/>"));
    EXPECT_TRUE(Contains(
        DeviceClient::ViaProxy(sim.Port(), "f7.invalid").ChangeMode(kTestAfterVersion, file).body,
        "app-name=\"HIDNotification\""));
    EXPECT_TRUE(Contains(DeviceClient::ViaProxy(sim.Port(), "f8.invalid").GetInformation().body,
                         "<response success=\"false\"><reason>VersionFailed</reason>"));
}

TEST(SimulatorFaults, DroppedUploadLeavesTheDeviceBrokenAtThatPart) {
    TempFolder folder;
    auto steps = CarriedStepsSmall();
    steps[2].data = PseudoRandomBytes(200000, 77);  // part 3, large enough to be cut
    auto fleet = folder.Write(
        "fleet.json",
        FleetOf(
            {R"([{"on": "Update", "part": 3, "action": "drop", "after-bytes": 50000, "times": 2}])"},
            50));
    SimulatorProcess sim({"--fleet", fleet.string(), "--image",
                          folder.Write("image.rcx", ImageBytes(steps)).string()});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto device = DeviceClient::ViaProxy(sim.Port(), "f0.invalid");
    ASSERT_TRUE(
        Contains(device.ChangeMode(kTestAfterVersion, steps[0].data).body, "success=\"true\""));
    ASSERT_TRUE(Eventually([&] { return device.GetInformation().status == 200; }, 10s));
    ASSERT_TRUE(
        Contains(device.ChangeMode(kTestAfterVersion, steps[1].data).body, "success=\"true\""));
    Reply cut = device.Update(kTestAfterVersion, steps[2].data);
    EXPECT_NE(cut.curlCode, 0);
    EXPECT_NE(cut.status, 200);
    // A client resends once on a fresh connection when a reused one breaks: both are cut.
    std::vector<nlohmann::json> drops;
    ASSERT_TRUE(Eventually(
        [&] {
            drops.clear();
            for (const auto& line : sim.Requests()) {
                if (TextOf(line, "answer") == "dropped")
                    drops.push_back(line);
            }
            return drops.size() == 2;
        },
        5s));
    EXPECT_EQ(drops[0]["part"], "CopyWritableRegion");
    EXPECT_EQ(drops[0]["status"], nullptr);
    EXPECT_GE(drops[0]["bytes"].get<int>(), 50000);
    EXPECT_LT(drops[0]["bytes"].get<int>(), 200000);
    Reply info;
    ASSERT_TRUE(Eventually(
        [&] {
            info = device.GetInformation();
            return Contains(info.body, "<status>Broken");
        },
        5s))
        << info.body;
    EXPECT_TRUE(Contains(info.body, "<update-not-complete progress=\"3\" version=\"Ver.3.01TC\"/>"))
        << info.body;
}

TEST(SimulatorFaults, StallsHoldTheExchange) {
    TempFolder folder;
    auto fleet = folder.Write(
        "fleet.json",
        FleetOf({
            R"([{"on": "ChangeMode", "action": "stall", "ms": 400, "after-bytes": 1000}])",
            R"([{"on": "GetInformation", "action": "stall"}])",
        }));
    SimulatorProcess sim({"--fleet", fleet.string()});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    Reply stalled = DeviceClient::ViaProxy(sim.Port(), "f0.invalid")
                        .ChangeMode(kTestAfterVersion, PseudoRandomBytes(100000, 1));
    EXPECT_EQ(stalled.status, 200);
    EXPECT_GE(stalled.seconds, 0.4);
    Reply never =
        DeviceClient::ViaProxy(sim.Port(), "f1.invalid").WithTimeoutMs(500).GetInformation();
    EXPECT_EQ(never.curlCode, 28);  // timed out: no answer came
    EXPECT_EQ(sim.Stop(), 0);       // a stalled exchange does not keep the simulator from stopping
}

TEST(SimulatorFaults, RestartsThatNeverEndOrEndInAnotherStatus) {
    TempFolder folder;
    auto fleet = folder.Write(
        "fleet.json",
        FleetOf(
            {
                R"([{"on": "ChangeMode", "action": "no-comeback"}])",
                R"([{"on": "ChangeMode", "action": "comeback-status", "status": "Broken", "progress": 4}])",
                R"([{"on": "ChangeMode", "action": "comeback-status", "status": "AnotherApp", "app-name": "Utility"}])",
            },
            100));
    SimulatorProcess sim({"--fleet", fleet.string()});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    const std::string file = PseudoRandomBytes(3000, 5);
    for (int i = 0; i < 3; ++i) {
        auto device = DeviceClient::ViaProxy(sim.Port(), "f" + std::to_string(i) + ".invalid");
        ASSERT_TRUE(Contains(device.ChangeMode(kTestAfterVersion, file).body, "success=\"true\""));
    }
    auto gone = DeviceClient::ViaProxy(sim.Port(), "f0.invalid");
    // Watched for several down-times: it never answers again.
    EXPECT_FALSE(Eventually([&] { return gone.GetInformation().status != 502; }, 600ms));
    auto broken = DeviceClient::ViaProxy(sim.Port(), "f1.invalid");
    Reply info;
    ASSERT_TRUE(Eventually([&] { return (info = broken.GetInformation()).status == 200; }, 5s));
    EXPECT_TRUE(
        Contains(info.body, "<status>Broken<additional-data><update-not-complete progress=\"4\""))
        << info.body;
    auto busy = DeviceClient::ViaProxy(sim.Port(), "f2.invalid");
    ASSERT_TRUE(Eventually([&] { return (info = busy.GetInformation()).status == 200; }, 5s));
    EXPECT_TRUE(Contains(info.body, "app-name=\"Utility\"")) << info.body;
    EXPECT_TRUE(Contains(busy.Update(kTestAfterVersion, file).body, "<reason>AnotherApp"));
}
