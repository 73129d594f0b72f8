// Authentication and routing through the running simulator.

#include <gtest/gtest.h>

#include "DeviceClient.h"
#include "SimulatorProcess.h"

using namespace devsim_test;
using namespace std::chrono_literals;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(SimulatorAuth, PrimingIsChallengedThenDigestCredentialsAreAcceptedOnEveryRequest) {
    SimulatorProcess sim({});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto client = DeviceClient::ViaProxy(sim.Port(), "device-2.invalid");

    Reply bare = client.BarePriming();
    EXPECT_EQ(bare.status, 401);
    EXPECT_TRUE(Contains(bare.challenge, "Digest realm=\"device@device-2.invalid\""))
        << bare.challenge;

    Reply info = client.GetInformation();
    ASSERT_EQ(info.curlCode, 0);
    EXPECT_EQ(info.status, 200);
    // The challenge of the body-less priming keeps the connection, as a web server's does: the
    // whole exchange runs over one.
    EXPECT_EQ(info.connections, 1);
    EXPECT_TRUE(Contains(info.body, "<model-name>QX-Vorta-1000</model-name>"));
    EXPECT_TRUE(Contains(info.body, "<version>Ver.3.00TC</version>"));
    EXPECT_TRUE(Contains(info.body, "<status>Idle</status>"));

    // Priming without credentials, priming with them, then the request: each one logged.
    auto requests = sim.Requests("device-2.invalid");
    ASSERT_GE(requests.size(), 4u);
    auto last = requests.back();
    EXPECT_EQ(last["request"], "GetInformation");
    EXPECT_EQ(last["credentials"], true);
    EXPECT_EQ(last["auth"], "accepted");
    EXPECT_EQ(last["answer"], "information");
    EXPECT_EQ(last["mac"], std::string(kMac));
    EXPECT_EQ(last["boundary"], "4711");
    auto priming = requests[requests.size() - 2];
    EXPECT_EQ(priming["request"], "priming");
    EXPECT_EQ(priming["auth"], "accepted");
    EXPECT_EQ(priming["status"], 200);
}

TEST(SimulatorAuth, BasicDevicesChallengeWithBasicAndRefuseAWrongPassword) {
    SimulatorProcess sim({"--auth", "basic", "--devices", "1"});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto client = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid");
    EXPECT_EQ(client.BarePriming().challenge, "Basic realm=\"device@device-1.invalid\"");
    EXPECT_EQ(client.GetInformation().status, 200);
    auto wrong = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid")
                     .WithAuth(AuthMode::Any, "client", "wrong");
    EXPECT_EQ(wrong.GetInformation().status, 401);
    auto digestOnly =
        DeviceClient::ViaProxy(sim.Port(), "device-1.invalid").WithAuth(AuthMode::Digest);
    EXPECT_EQ(digestOnly.GetInformation().status, 401);
    EXPECT_EQ(sim.Requests().back()["auth"], "missing");
}

TEST(SimulatorAuth, DevicesWithoutAuthenticationAnswerAtOnce) {
    SimulatorProcess sim({"--auth", "none", "--devices", "1"});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto client = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid").WithAuth(AuthMode::None);
    EXPECT_EQ(client.GetInformation().status, 200);
    EXPECT_EQ(sim.Requests().back()["auth"], "not-required");
}

TEST(SimulatorRouting, UnknownHostsWrongPathsAndMethodsGetTheirStatus) {
    SimulatorProcess sim({});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto nobody = DeviceClient::ViaProxy(sim.Port(), "device-9.invalid");
    EXPECT_EQ(nobody.GetInformation().status, 502);
    auto unknown = sim.Requests().back();
    EXPECT_EQ(unknown["known"], false);
    EXPECT_EQ(unknown["answer"], "unknown-host");
    EXPECT_EQ(unknown["device"], "device-9.invalid");
    // A device name with another port is no device either: nothing is ever forwarded.
    EXPECT_EQ(DeviceClient::ViaProxy(sim.Port(), "device-1.invalid:8080").GetInformation().status,
              502);

    auto client = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid");
    EXPECT_EQ(client.Raw("POST", "http://device-1.invalid/firmware-update/other", "", "").status,
              404);
    EXPECT_EQ(
        client.Raw("GET", "http://device-1.invalid/firmware-update/firmware-update", "", "").status,
        405);
    EXPECT_EQ(
        client.Raw("POST", "http://DEVICE-1.invalid:80/firmware-update/firmware-update", "", "")
            .status,
        200);
}

// A fleet of 2000 devices behind the proxy: the first and the last answer, one more is no
// device, and an idle device costs little memory (measured against a fleet of 3).
TEST(SimulatorRouting, TwoThousandDevicesAnswerAndIdleDevicesStaySmall) {
    constexpr int kDevices = 2000;
#ifdef DEVSIM_SANITIZED
    // A sanitizer's shadow memory grows with every byte the process touches (ThreadSanitizer's
    // by several times).
    constexpr long kMaxKiBPerIdleDevice = 32;
#else
    constexpr long kMaxKiBPerIdleDevice = 8;
#endif
    SimulatorProcess few({"--devices", "3"});
    ASSERT_TRUE(few.Started()) << few.StandardError();
    SimulatorProcess many({"--devices", std::to_string(kDevices)});
    ASSERT_TRUE(many.Started()) << many.StandardError();
    for (const int number : {1, kDevices}) {
        const std::string host = "device-" + std::to_string(number) + ".invalid";
        EXPECT_EQ(DeviceClient::ViaProxy(many.Port(), host).GetInformation().status, 200) << host;
    }
    const std::string beyond = "device-" + std::to_string(kDevices + 1) + ".invalid";
    EXPECT_EQ(DeviceClient::ViaProxy(many.Port(), beyond).GetInformation().status, 502);
    const long perDevice = (many.ResidentKiB() - few.ResidentKiB()) / (kDevices - 3);
    EXPECT_LE(perDevice, kMaxKiBPerIdleDevice)
        << many.ResidentKiB() << " KiB against " << few.ResidentKiB() << " KiB";
}

TEST(SimulatorRouting, StopsGracefullyAndSummarisesEveryDevice) {
    SimulatorProcess sim({"--devices", "2"});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    DeviceClient::ViaProxy(sim.Port(), "device-1.invalid").GetInformation();
    EXPECT_EQ(sim.Stop(), 0);
    std::string text = sim.StandardError();
    EXPECT_TRUE(Contains(text, "device-1.invalid: 3 requests (GetInformation 1, priming 1)"))
        << text;
    EXPECT_TRUE(Contains(text, "device-2.invalid: 0 requests")) << text;
    int summaries = 0;
    for (auto& event : sim.Events()) {
        summaries += event["event"] == "summary";
    }
    EXPECT_EQ(summaries, 2);
}
