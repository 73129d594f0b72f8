// Direct mode, and a large file part streaming through with memory staying flat.

#include <gtest/gtest.h>

#include <cstring>

#include "DeviceClient.h"
#include "SimulatorProcess.h"
#include "TestImage.h"

using namespace devsim_test;
using namespace std::chrono_literals;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Deterministic bytes computed from their offset, so that the client holds none of them.
void FillPattern(std::uint64_t offset, char* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t x = (offset + i) * 0x9E3779B97F4A7C15ull;
        out[i] = static_cast<char>(x >> 56);
    }
}

}  // namespace

TEST(SimulatorDirect, EveryDeviceListensOnItsOwnLoopbackAddress) {
    TempFolder folder;
    auto fleet = folder.Write("fleet.json", R"({"defaults": {"restart-ms": 300}, "devices": [
        {"listen": "127.0.0.2:0"}, {"listen": "127.0.0.3:0", "firmware": "Ver.3.02TC"}]})");
    SimulatorProcess sim({"--direct", "--fleet", fleet.string()});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    ASSERT_EQ(sim.Addresses().size(), 2u);
    auto second = DeviceClient::Direct(sim.Addresses().at("127.0.0.3"));
    EXPECT_TRUE(Contains(second.GetInformation().body, "<version>Ver.3.02TC</version>"));
    auto first = DeviceClient::Direct(sim.Addresses().at("127.0.0.2"));
    ASSERT_TRUE(Contains(first.ChangeMode(kTestAfterVersion, PseudoRandomBytes(4000, 2)).body,
                         "success=\"true\""));
    // While it restarts the device takes no connection at all.
    Reply down = first.GetInformation();
    EXPECT_NE(down.curlCode, 0);
    EXPECT_TRUE(sim.WaitForEvent(
        [](const nlohmann::json& e) { return TextOf(e, "event") == "connection-refused"; }, 5s));
    ASSERT_TRUE(Eventually([&] { return first.GetInformation().status == 200; }, 10s));
    EXPECT_TRUE(Contains(first.GetInformation().body, "<status>SelfUpdating</status>"));
}

TEST(SimulatorStreaming, AHundredMegabyteFilePartPassesWithFlatMemory) {
    SimulatorProcess sim({"--devices", "1"});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto device = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid");
    ASSERT_EQ(device.GetInformation().status, 200);
    const long before = sim.ResidentKiB();
    ASSERT_GT(before, 0);

    const FileSource file{100ull << 20, FillPattern};
    const std::string digest = Md5OfSource(file);
    Reply reply =
        device.Send(MakeBody(31337, ChangeModeDocument(kTestAfterVersion, digest), true), &file);
    ASSERT_EQ(reply.curlCode, 0);
    EXPECT_TRUE(Contains(reply.body, "success=\"true\"")) << reply.body;
    const long peak = sim.PeakResidentKiB();
    auto line = sim.Requests().back();
    EXPECT_EQ(line["file_bytes"], 100ull << 20);
    EXPECT_EQ(line["digest_check"], "match");
    EXPECT_EQ(line["md5"], digest);
    // Nothing of the file part is kept: the peak stays within a few buffers of the start.
#ifdef DEVSIM_SANITIZED
    constexpr long kBoundKiB = 64 * 1024;
#else
    constexpr long kBoundKiB = 16 * 1024;
#endif
    EXPECT_LT(peak - before, kBoundKiB)
        << "resident " << before << " KiB before, peak " << peak << " KiB";
    std::printf(
        "[ info ] 100 MiB through the simulator in %.2f s (%.0f MiB/s); resident %ld KiB, peak %ld "
        "KiB\n",
        reply.seconds, 100 / reply.seconds, before, peak);
}
