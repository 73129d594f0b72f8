// A whole rewrite driven over HTTP as the tool drives it, and the strict checks of the body.

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

// Probes like the restart wait: until the device answers its GetInformation again.
bool WaitUntilBack(const DeviceClient& client, Reply* last = nullptr) {
    return Eventually(
        [&] {
            Reply reply = client.GetInformation();
            if (last)
                *last = reply;
            return reply.status == 200;
        },
        10s);
}

class UpdateSequence : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST_P(UpdateSequence, RewritesADeviceWithItsRestartsAndLogsEveryStep) {
    const bool withImage = GetParam();
    TempFolder folder;
    auto steps = CarriedStepsSmall();
    std::vector<std::string> arguments = {"--devices", "2", "--restart-ms", "200"};
    if (withImage) {
        arguments.insert(arguments.end(),
                         {"--image", folder.Write("image.rcx", ImageBytes(steps)).string()});
    }
    SimulatorProcess sim(arguments);
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto device = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid");
    auto reply = [](const Reply& r) { return std::to_string(r.status) + " " + r.body; };
    const std::string accepted = "<response success=\"true\"/>";

    ASSERT_TRUE(Contains(device.GetInformation().body, "<status>Idle</status>"));
    Reply r = device.ChangeMode(kTestAfterVersion, steps[0].data);
    ASSERT_TRUE(Contains(r.body, accepted)) << reply(r);
    EXPECT_EQ(device.GetInformation().status, 502);  // restarting: gone, as a dead host
    Reply back;
    ASSERT_TRUE(WaitUntilBack(device, &back));
    EXPECT_TRUE(Contains(back.body, "<status>SelfUpdating</status>")) << back.body;
    ASSERT_TRUE(Contains(device.ChangeMode(kTestAfterVersion, steps[1].data).body, accepted));
    for (int part : {3, 4, 5}) {
        r = device.Update(kTestAfterVersion, steps[part - 1].data);
        ASSERT_TRUE(Contains(r.body, accepted)) << part << ": " << reply(r);
    }
    ASSERT_TRUE(WaitUntilBack(device));
    // The second change sends the first part named ReChangeMode, as the tool does.
    ASSERT_TRUE(Contains(device.ChangeMode(kTestAfterVersion, steps[1].data).body, accepted));
    for (int part = 7; part <= 11; ++part) {
        r = device.Update(kTestAfterVersion, steps[part - 1].data);
        ASSERT_TRUE(Contains(r.body, accepted)) << part << ": " << reply(r);
    }
    r = device.GetInformation();
    EXPECT_TRUE(Contains(r.body, "<version>Ver.3.01TC</version><status>Idle</status>")) << r.body;
    // The other device was not touched.
    EXPECT_TRUE(
        Contains(DeviceClient::ViaProxy(sim.Port(), "device-2.invalid").GetInformation().body,
                 "<version>Ver.3.00TC</version>"));

    std::vector<std::string> sequence;
    for (auto& line : sim.Requests("device-1.invalid")) {
        if (line["request"] == "ChangeMode" || line["request"] == "Update") {
            sequence.push_back(line["request"].get<std::string>() + " " +
                               line["part"].get<std::string>() + " " +
                               line["answer"].get<std::string>());
            EXPECT_EQ(line["digest_check"], "match");
            EXPECT_EQ(line["part_source"], withImage ? "digest" : "sequence");
            EXPECT_EQ(line["after_version"], kTestAfterVersion);
        }
    }
    std::vector<std::string> expected = {"ChangeMode BackupSettingValue accepted",
                                         "ChangeMode ReChangeMode accepted",
                                         "Update CopyWritableRegion accepted",
                                         "Update WriteUpdateBootStrap accepted",
                                         "Update Reboot accepted",
                                         "ChangeMode ReChangeMode accepted",
                                         "Update WriteNewKernel accepted",
                                         "Update WriteNewRootfs accepted",
                                         "Update WriteNewWritableRegion accepted",
                                         "Update WriteNewSnapShot accepted",
                                         "Update WriteNewBootStrap accepted"};
    EXPECT_EQ(sequence, expected);
    int restarts = 0;
    for (auto& event : sim.Events()) {
        restarts += event["event"] == "restart" && event["down_ms"] == 200;
    }
    EXPECT_EQ(restarts, 2);
}

INSTANTIATE_TEST_SUITE_P(ByDigestAndBySequence, UpdateSequence, ::testing::Bool());

TEST(UpdateSequenceChecks, OutOfOrderAndForeignPartsAreRefusedInProtocolTerms) {
    TempFolder folder;
    auto steps = CarriedStepsSmall();
    SimulatorProcess sim({"--devices", "1", "--restart-ms", "50", "--image",
                          folder.Write("image.rcx", ImageBytes(steps)).string()});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto device = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid");
    EXPECT_TRUE(Contains(device.Update(kTestAfterVersion, steps[2].data).body,
                         "<reason>ModeNotChanged</reason>"));
    EXPECT_TRUE(Contains(device.ChangeMode(kTestAfterVersion, "not a part of the image").body,
                         "<reason>NotCorrespond</reason>"));
    auto line = sim.Requests().back();
    EXPECT_EQ(line["part_source"], "unknown");
    EXPECT_EQ(line["reason"], "NotCorrespond");
}

TEST(UpdateSequenceChecks, BodiesAreCheckedStrictlyAndTheLogSaysWhatWasWrong) {
    SimulatorProcess sim({"--devices", "1", "--restart-ms", "0"});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    auto device = DeviceClient::ViaProxy(sim.Port(), "device-1.invalid");
    const std::string file = PseudoRandomBytes(5000, 3);
    FileSource source = FileSource::Of(file);

    // A one-digit boundary, as the tool's tick count can be, is read like any other.
    Reply ok = device.Send(MakeBody(7, ChangeModeDocument(kTestAfterVersion, Md5Hex(file)), true),
                           &source);
    EXPECT_TRUE(Contains(ok.body, "success=\"true\"")) << ok.body;
    EXPECT_EQ(sim.Requests().back()["boundary"], "7");
    EXPECT_EQ(sim.Requests().back()["file_bytes"], 5000);

    struct Case {
        Body body;
        bool withFile;
        const char* reason;
        const char* error;
    };
    Body wrongDigest = MakeBody(8, UpdateDocument(kTestAfterVersion, Md5Hex("other bytes")), true);
    Body noFile = MakeBody(9, ChangeModeDocument(kTestAfterVersion, Md5Hex(file)), false);
    noFile.head.erase(noFile.head.size() - 2);  // the document alone, then the close delimiter
    Body badDocument = MakeBody(10, GetInformationDocument("02:1a:2b:3c:4d:5e"), false);
    Body wrongName = MakeBody(11, ChangeModeDocument(kTestAfterVersion, Md5Hex(file)), true);
    wrongName.head.replace(wrongName.head.find("name=\"file\""), 11, "name=\"data\"");
    Body wrongType = MakeBody(12, GetInformationDocument(), false);
    wrongType.head.replace(wrongType.head.find("text/xml"), 8, "text/plain");
    Body missingCrLf = MakeBody(13, GetInformationDocument(), false);
    missingCrLf.head.erase(missingCrLf.head.size() - 2);
    Case cases[] = {
        {wrongDigest, true, "InvalidFile", "does not match the MD5"},
        {noFile, false, "InvalidFile", "has no \"file\" part"},
        {badDocument, false, "OtherError", "lower-case"},
        {wrongName, true, "InvalidFile",
         "expected \"form-data; name=\"file\"; filename=\"image.tar\"\""},
        {wrongType, false, "OtherError", "Content-Type of the part is \"text/plain\""},
        {missingCrLf, false, "OtherError", "lacks the CR LF after the document"},
    };
    for (const auto& c : cases) {
        Reply reply = device.Send(c.body, c.withFile ? &source : nullptr);
        EXPECT_EQ(reply.status, 200);
        EXPECT_TRUE(Contains(reply.body, "<response success=\"false\"><reason>" +
                                             std::string(c.reason) + "</reason>"))
            << c.error << ": " << reply.body;
        auto line = sim.Requests().back();
        EXPECT_EQ(line["reason"], c.reason);
        EXPECT_TRUE(Contains(TextOf(line, "error"), c.error)) << line["error"];
    }
    Reply raw = device.Raw("POST", device.Url(), "text/xml", GetInformationDocument());
    EXPECT_TRUE(Contains(raw.body, "<reason>OtherError</reason>"));
    EXPECT_TRUE(Contains(TextOf(sim.Requests().back(), "error"), "not multipart/form-data"));
}
