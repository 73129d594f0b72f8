// The device's side of an update, driven without HTTP: the order it accepts, what it refuses
// out of order, its restarts and what it reports about an unfinished update.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <thread>

#include "RequestBodies.h"
#include "SimulatorProcess.h"
#include "TestImage.h"
#include "simulator/CSimulatedDevice.h"

using namespace talbo::tesk::vorta::devsim;
using devsim_test::kTestAfterVersion;
using devsim_test::Md5Hex;

namespace {

class SimulatedDevice : public ::testing::Test {
protected:
    void SetUp() override {
        steps_ = devsim_test::CarriedStepsSmall();
        auto image = folder_.Write("image.rcx", devsim_test::ImageBytes(steps_));
        std::string error;
        auto plan = CUpdatePlan::FromImageFile(image, error);
        ASSERT_TRUE(plan) << error;
        imagePlan_ = std::make_shared<const CUpdatePlan>(std::move(*plan));
    }

    std::unique_ptr<CSimulatedDevice> MakeDevice(
        DeviceSettings settings = {}, std::shared_ptr<const CUpdatePlan> plan = nullptr) {
        if (settings.host.empty())
            settings.host = "device-1.invalid";
        settings.restartMs = 0;
        return std::make_unique<CSimulatedDevice>(settings, plan ? plan : imagePlan_);
    }

    // Sends the block of the step with this number (1-based) as the given request.
    DeviceAnswer Send(CSimulatedDevice& device, RequestType type, int step,
                      std::string version = kTestAfterVersion, std::vector<Fault> faults = {}) {
        RequestDocument document{type, std::string(devsim_test::kMac), version,
                                 Md5Hex(steps_[step - 1].data)};
        auto part = device.Identify(type, document.fileDigest, steps_[step - 1].data.size());
        auto answer = device.Handle(document, part, FileCheck{}, faults);
        // A restart of 0 ms is over at the next look.
        EXPECT_FALSE(answer.restartMs && *answer.restartMs > 0);
        device.IsDown();
        return answer;
    }

    // The plan of a whole update as the client sends it, each request counted against the
    // device's faults first; the answers in order.
    std::vector<DeviceAnswer> WholeUpdate(CSimulatedDevice& device) {
        std::vector<DeviceAnswer> answers;
        auto send = [&](RequestType type, int step) {
            RequestDocument document{type, std::string(devsim_test::kMac), kTestAfterVersion,
                                     Md5Hex(steps_[step - 1].data)};
            auto part = device.Identify(type, document.fileDigest, std::nullopt);
            auto faults = device.FireFaults(
                type == RequestType::Update ? RequestKind::Update : RequestKind::ChangeMode, part);
            answers.push_back(device.Handle(document, part, FileCheck{}, faults));
            device.IsDown();
        };
        send(RequestType::ChangeMode, 1);
        send(RequestType::ChangeMode, 2);
        for (int part : {3, 4, 5}) {
            send(RequestType::Update, part);
        }
        send(RequestType::ChangeMode, 2);
        for (int part = 7; part <= 11; ++part) {
            send(RequestType::Update, part);
        }
        return answers;
    }

    static void ExpectAccepted(const DeviceAnswer& answer, const char* what) {
        EXPECT_EQ(answer.outcome, "accepted")
            << what << ": " << answer.reason << " " << answer.note;
    }

    devsim_test::TempFolder folder_;
    std::vector<devsim_test::TestStep> steps_;
    std::shared_ptr<const CUpdatePlan> imagePlan_;
};

}  // namespace

TEST_F(SimulatedDevice, FollowsTheWholeUpdateAndTakesTheNewVersion) {
    for (bool byDigest : {true, false}) {
        auto device = MakeDevice(
            {}, byDigest ? imagePlan_
                         : std::make_shared<const CUpdatePlan>(CUpdatePlan::CarriedLayout()));
        EXPECT_EQ(device->CurrentStatus().text, "Idle");
        auto answer = Send(*device, RequestType::ChangeMode, 1);
        ExpectAccepted(answer, "backup");
        EXPECT_TRUE(answer.restartMs);
        EXPECT_EQ(device->CurrentStatus().text, "SelfUpdating");
        ExpectAccepted(Send(*device, RequestType::ChangeMode, 2), "re-change 2");
        for (int part : {3, 4, 5}) {
            answer = Send(*device, RequestType::Update, part);
            ExpectAccepted(answer, "upload");
            EXPECT_EQ(answer.restartMs.has_value(), part == 5) << part;
        }
        // The client sends the first ReChangeMode part again for the second change.
        ExpectAccepted(Send(*device, RequestType::ChangeMode, 2), "re-change 6");
        for (int part = 7; part <= 11; ++part) {
            ExpectAccepted(Send(*device, RequestType::Update, part), "upload");
        }
        auto snapshot = device->Snapshot();
        EXPECT_EQ(snapshot.firmware, kTestAfterVersion) << byDigest;
        EXPECT_EQ(snapshot.status, "Idle");
        EXPECT_FALSE(snapshot.updateMode);
    }
}

TEST_F(SimulatedDevice, RefusesOutOfOrderRequests) {
    auto device = MakeDevice();
    EXPECT_EQ(Send(*device, RequestType::Update, 3).reason, "ModeNotChanged");
    EXPECT_EQ(Send(*device, RequestType::ChangeMode, 2).reason,
              "OtherError");  // ReChangeMode first
    ExpectAccepted(Send(*device, RequestType::ChangeMode, 1), "backup");
    EXPECT_EQ(Send(*device, RequestType::Update, 3).reason,
              "ModeNotChanged");  // restarted, not changed
    // Every refusal interrupts the update, so the mode is changed again before the next try.
    ExpectAccepted(Send(*device, RequestType::ChangeMode, 2), "re-change");
    EXPECT_EQ(Send(*device, RequestType::Update, 4).reason, "OtherError");  // part 3 skipped
    ExpectAccepted(Send(*device, RequestType::ChangeMode, 2), "re-change");
    EXPECT_EQ(Send(*device, RequestType::Update, 3, "Ver.9.99").reason, "VersionNotSame");
    EXPECT_EQ(Send(*device, RequestType::ChangeMode, 2, "Ver.9.99").reason, "VersionNotSame");
    ExpectAccepted(Send(*device, RequestType::ChangeMode, 2), "re-change");
    // Not a change-mode part.
    EXPECT_EQ(Send(*device, RequestType::ChangeMode, 3).reason, "OtherError");

    RequestDocument stranger{RequestType::Update, std::string(devsim_test::kMac), kTestAfterVersion,
                             Md5Hex("not in the image")};
    auto part = device->Identify(RequestType::Update, stranger.fileDigest, 16);
    EXPECT_EQ(part.source, PartIdentity::Source::Unknown);
    EXPECT_EQ(device->Handle(stranger, part, FileCheck{}, {}).reason, "NotCorrespond");
    EXPECT_EQ(device->Handle(stranger, part, FileCheck{false, "digest differs"}, {}).reason,
              "InvalidFile");
}

TEST_F(SimulatedDevice, AfterARebootRestartTheModeMustBeChangedAgain) {
    auto device = MakeDevice();
    for (auto [type, step] : {std::pair{RequestType::ChangeMode, 1},
                              {RequestType::ChangeMode, 2},
                              {RequestType::Update, 3},
                              {RequestType::Update, 4},
                              {RequestType::Update, 5}}) {
        ExpectAccepted(Send(*device, type, step), "prefix");
    }
    EXPECT_EQ(Send(*device, RequestType::Update, 7).reason, "ModeNotChanged");
}

TEST_F(SimulatedDevice, ARefusedPartLeavesTheUpdateUnfinishedWhereItStopped) {
    auto device = MakeDevice();
    ExpectAccepted(Send(*device, RequestType::ChangeMode, 1), "backup");
    ExpectAccepted(Send(*device, RequestType::ChangeMode, 2), "re-change");
    ExpectAccepted(Send(*device, RequestType::Update, 3), "3");
    EXPECT_EQ(Send(*device, RequestType::Update, 5).reason, "OtherError");  // 4 expected
    auto status = device->CurrentStatus();
    EXPECT_EQ(status.text, "Broken");
    EXPECT_TRUE(status.withProgress);
    EXPECT_EQ(status.progress, "4");
    EXPECT_EQ(status.version, kTestAfterVersion);
    // Taken up again as the client does for progress 2 to 4: change mode, then part 3 anew.
    ExpectAccepted(Send(*device, RequestType::ChangeMode, 2), "resume");
    EXPECT_EQ(device->CurrentStatus().text, "SelfUpdating");
    ExpectAccepted(Send(*device, RequestType::Update, 3), "3 again");
}

TEST_F(SimulatedDevice, BrokenDevicesResumeWhereTheClientTakesThemUp) {
    DeviceSettings settings;
    settings.status = "Broken";
    settings.progress = "5";
    settings.updateVersion = kTestAfterVersion;
    auto atFive = MakeDevice(settings);
    EXPECT_EQ(atFive->CurrentStatus().progress, "5");
    ExpectAccepted(Send(*atFive, RequestType::Update, 5), "part 5 without a change");

    settings.progress = "3";
    EXPECT_EQ(Send(*MakeDevice(settings), RequestType::Update, 3).reason, "ModeNotChanged");
    settings.progress = "8";
    auto atEight = MakeDevice(settings);
    EXPECT_EQ(Send(*atEight, RequestType::Update, 8).reason, "ModeNotChanged");
    atEight = MakeDevice(settings);
    ExpectAccepted(Send(*atEight, RequestType::ChangeMode, 2), "re-change at 6");
    for (int part = 7; part <= 11; ++part) {
        ExpectAccepted(Send(*atEight, RequestType::Update, part), "second half");
    }
    EXPECT_EQ(atEight->Snapshot().firmware, kTestAfterVersion);

    settings.progress.reset();
    auto noProgress = MakeDevice(settings);
    EXPECT_EQ(noProgress->CurrentStatus().text, "Broken");
    EXPECT_FALSE(noProgress->CurrentStatus().withProgress);
}

TEST_F(SimulatedDevice, BusyDevicesRefuseWithTheirReason) {
    DeviceSettings settings;
    settings.status = "AnotherUpdating";
    EXPECT_EQ(Send(*MakeDevice(settings), RequestType::ChangeMode, 1).reason, "AnotherUpdating");
    settings.status = "AnotherApp";
    settings.appName = "Print";
    auto busy = MakeDevice(settings);
    auto answer = Send(*busy, RequestType::ChangeMode, 1);
    EXPECT_EQ(answer.reason, "AnotherApp");
    EXPECT_NE(answer.body.find("app-name=\"Print\""), std::string::npos);
    EXPECT_EQ(busy->CurrentStatus().appName, "Print");
}

TEST_F(SimulatedDevice, RestartsLastTheirDownTimeAndRestartFaultsChangeThem) {
    DeviceSettings settings;
    settings.host = "device-1.invalid";
    settings.restartMs = 150;
    Fault comeback;
    comeback.on = RequestKind::Update;
    comeback.part = "Reboot";
    comeback.action = FaultAction::ComebackStatus;
    comeback.text = "AnotherUpdating";
    settings.faults.push_back(comeback);
    CSimulatedDevice device(settings, imagePlan_);
    auto send = [&](RequestType type, int step) {
        RequestDocument document{type, std::string(devsim_test::kMac), kTestAfterVersion,
                                 Md5Hex(steps_[step - 1].data)};
        auto part = device.Identify(type, document.fileDigest, std::nullopt);
        auto faults = device.FireFaults(
            type == RequestType::Update ? RequestKind::Update : RequestKind::ChangeMode, part);
        return device.Handle(document, part, FileCheck{}, faults);
    };
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(send(RequestType::ChangeMode, 1).restartMs, 150);
    EXPECT_TRUE(device.IsDown());
    ASSERT_TRUE(devsim_test::Eventually([&] { return !device.IsDown(); }, std::chrono::seconds(5)));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
    send(RequestType::ChangeMode, 2);
    send(RequestType::Update, 3);
    send(RequestType::Update, 4);
    send(RequestType::Update, 5);
    ASSERT_TRUE(devsim_test::Eventually([&] { return !device.IsDown(); }, std::chrono::seconds(5)));
    EXPECT_EQ(device.CurrentStatus().text, "AnotherUpdating");
}

TEST_F(SimulatedDevice, KeptOldFirmwareAcceptsEveryPartOfOneUpdate) {
    std::string error;
    auto fault = FaultFromJson(nlohmann::json::parse(R"({"action": "keep-firmware"})"), error);
    ASSERT_TRUE(fault) << error;
    DeviceSettings settings;
    settings.faults.push_back(*fault);
    auto device = MakeDevice(settings);
    for (const char* expected : {"Ver.3.00TC", kTestAfterVersion}) {
        const auto answers = WholeUpdate(*device);
        for (const DeviceAnswer& answer : answers) {
            ExpectAccepted(answer, "keep-firmware");
        }
        auto snapshot = device->Snapshot();
        EXPECT_EQ(snapshot.firmware, expected) << "the fault holds for one update only";
        EXPECT_EQ(snapshot.status, "Idle");
        EXPECT_FALSE(snapshot.updateMode);
        EXPECT_EQ(device->CurrentStatus().text, "Idle");
    }
}
