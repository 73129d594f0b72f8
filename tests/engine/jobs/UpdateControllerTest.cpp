#include "engine/jobs/CUpdateController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>

#include "FakeFleetModel.h"
#include "common/VersionDecision.h"

namespace tv = talbo::tesk::vorta;
using tv::testing::FakeDevice;
using tv::testing::FakeFleetModel;

namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());  // the texts here are ASCII
}

bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// Polls the job state as every host does until the job has ended; then the token is back.
bool WaitForJobEnd(tv::CUpdateController& controller) {
    return Eventually([&] { return controller.Settings().GetJobState() == tv::EJobState::Idle; });
}

bool WaitForProgress(FakeFleetModel& model, const std::wstring& host, const std::wstring& value) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (model.GetDeviceValue(host, L"progress") == value) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

std::vector<std::wstring> Types(const std::vector<FakeDevice::Request>& requests) {
    std::vector<std::wstring> out;
    for (const auto& r : requests) {
        out.push_back(r.partName.empty() ? r.type : r.type + L":" + r.partName);
    }
    return out;
}

void Busy(FakeDevice& device, const wchar_t* app) {
    device.status = L"AnotherApp";
    device.appName = app;
}

void Broken(FakeDevice& device, const wchar_t* progress) {
    device.status = L"Broken";
    device.brokenProgress = progress;
}

class UpdateControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tv::InitializeProtocolLibraries(); }

    void RunTest() {
        ASSERT_TRUE(controller.StartCommunicationTest());
        ASSERT_TRUE(WaitForJobEnd(controller));
    }
    void RunUpdate(const wchar_t* policy) {
        ASSERT_TRUE(controller.StartUpdate(policy));
        ASSERT_TRUE(WaitForJobEnd(controller));
    }

    FakeFleetModel model;
    tv::CUpdateController controller{&model};
};

}  // namespace

TEST_F(UpdateControllerTest, CommunicationTestRecordsEachDevicesOutcome) {
    model.Add(L"idle");
    model.Add(L"gone").reachable = false;
    Busy(model.Add(L"printing"), L"Print");
    model.Add(L"other-tool").status = L"AnotherUpdating";
    Broken(model.Add(L"broken"), L"5");
    model.Add(L"refusing").informationFailure = L"VersionFailed";
    Busy(model.Add(L"odd-app"), L"print");
    model.values[L"gone"][L"modelname"] = L"kept";
    RunTest();

    EXPECT_EQ(model.ProgressHistory(L"idle"),
              (std::vector<std::wstring>{L"0", L"20", L"40", L"60", L"100"}));
    EXPECT_EQ(model.GetDeviceValue(L"idle", L"modelname"), L"QX-Vorta-1000");
    EXPECT_EQ(model.GetDeviceValue(L"idle", L"version"), L"Ver.3.00TC");
    EXPECT_EQ(model.GetDeviceValue(L"idle", L"accesstest"), L"Idle");

    EXPECT_EQ(model.GetDeviceValue(L"gone", L"progress"), L"-3");
    EXPECT_EQ(model.GetDeviceValue(L"gone", L"accesstest"), L"TimeOut");
    EXPECT_EQ(model.GetDeviceValue(L"gone", L"modelname"), L"kept");  // unreachable keeps values

    EXPECT_EQ(model.GetDeviceValue(L"printing", L"progress"), L"-5");
    EXPECT_EQ(model.GetDeviceValue(L"printing", L"accesstest"), L"Print");
    EXPECT_EQ(model.GetDeviceValue(L"other-tool", L"progress"), L"-4");
    EXPECT_EQ(model.GetDeviceValue(L"broken", L"progress"), L"100");
    EXPECT_EQ(model.GetDeviceValue(L"broken", L"accesstest"), L"5");
    EXPECT_EQ(model.GetDeviceValue(L"refusing", L"progress"), L"-14");
    EXPECT_EQ(model.GetDeviceValue(L"refusing", L"accesstest"), L"VersionFailed");
    EXPECT_EQ(model.GetDeviceValue(L"refusing", L"modelname"), L"");
    EXPECT_EQ(model.GetDeviceValue(L"odd-app", L"progress"), L"-14");  // names match exactly
}

TEST_F(UpdateControllerTest, StartRulesAndBusyToken) {
    EXPECT_FALSE(controller.StartCommunicationTest());  // no device at all
    model.Add(L"a");
    model.values[L"a"][L"update"] = L"false";
    EXPECT_FALSE(controller.StartCommunicationTest());  // no target
    EXPECT_FALSE(model.IsBusy());
    model.values[L"a"][L"update"] = L"true";
    model.AddCarriedImageParts();
    for (const wchar_t* bad : {L"Skip", L"", L"inquiry ", L"UPDATE"}) {
        EXPECT_FALSE(controller.StartUpdate(bad));
    }
    EXPECT_FALSE(controller.StartUpdate(nullptr));
    EXPECT_FALSE(model.IsBusy());

    ASSERT_TRUE(model.TryBeginBusy());  // another job or a model change holds the token
    EXPECT_FALSE(controller.StartCommunicationTest());
    EXPECT_FALSE(controller.StartUpdate(L"skip"));
    model.EndBusy();

    EXPECT_FALSE(controller.AnswerInquiry(L"update"));  // nothing waits
    EXPECT_FALSE(controller.AnswerInquiry(L"inquiry"));
    EXPECT_FALSE(controller.AnswerInquiry(nullptr));
}

TEST_F(UpdateControllerTest, ImageWithoutPartsAboveTwoHasNothingToSend) {
    model.Add(L"a");
    model.AddPart(L"1", L"BackupSettingValue");
    model.AddPart(L"2", L"ReChangeMode");
    EXPECT_FALSE(controller.StartUpdate(L"update"));
    EXPECT_FALSE(model.IsBusy());
}

TEST_F(UpdateControllerTest, FullRewriteFollowsThePlanAndReportsEveryStep) {
    model.Add(L"dev");
    model.AddCarriedImageParts();
    RunUpdate(L"skip");

    EXPECT_EQ(Types(model.Requests(L"dev")),
              (std::vector<std::wstring>{
                  L"GetInformation", L"ChangeMode:BackupSettingValue", L"GetInformation",
                  L"ChangeMode:ReChangeMode", L"Update:CopyWritableRegion",
                  L"Update:WriteUpdateBootStrap", L"Update:Reboot", L"GetInformation",
                  L"ChangeMode:ReChangeMode", L"Update:WriteNewKernel", L"Update:WriteNewRootfs",
                  L"Update:WriteNewWritableRegion", L"Update:WriteNewSnapShot",
                  L"Update:WriteNewBootStrap", L"GetInformation"}));
    EXPECT_EQ(model.ProgressHistory(L"dev"),
              (std::vector<std::wstring>{L"0", L"8", L"16", L"25", L"33", L"41", L"50", L"58",
                                         L"66", L"75", L"83", L"91", L"100"}));
    EXPECT_EQ(model.GetDeviceValue(L"dev", L"afterversion"), L"Ver.3.01TC");
    EXPECT_EQ(model.GetDeviceValue(L"dev", L"sendfile"), L"WriteNewBootStrap");

    EXPECT_EQ(model.GetDeviceValue(L"dev", L"version"), L"Ver.3.01TC");  // read back at the end
}

TEST_F(UpdateControllerTest, InterruptedUpdatesResumeAtTheirStep) {
    struct Case {
        const wchar_t* progress;
        const wchar_t* firstStep;  // first progress value after the reset
    };
    // A part "number" that is a result's name is no part number: the device is rewritten from
    // the start like one with an unknown part, never reported as "no need to rewrite" or busy.
    const Case cases[] = {{L"2", L"16"},       {L"4", L"16"},      {L"5", L"41"},
                          {L"6", L"50"},       {L"7", L"50"},      {L"10", L"50"},
                          {L"11", L"8"},       {L"x", L"8"},       {L"SameVersion", L"8"},
                          {L"Print", L"8"},    {L"TimeOut", L"8"}, {L"AnotherUpdating", L"8"},
                          {L"NormalEnd", L"8"}};
    model.AddCarriedImageParts();
    for (const Case& c : cases) {
        const std::wstring host = std::wstring(L"broken-") + c.progress;
        Broken(model.Add(host), c.progress);
    }
    RunUpdate(L"skip");
    for (const Case& c : cases) {
        const std::wstring host = std::wstring(L"broken-") + c.progress;
        const auto history = model.ProgressHistory(host);
        ASSERT_GE(history.size(), 2u) << c.progress;
        EXPECT_EQ(history[1], c.firstStep) << c.progress;
        EXPECT_EQ(history.back(), L"100") << c.progress;
    }
}

TEST_F(UpdateControllerTest, DowngradePolicies) {
    model.AddCarriedImageParts();
    model.Add(L"newer").version = L"Ver.3.02TC";
    RunUpdate(L"skip");
    EXPECT_EQ(model.GetDeviceValue(L"newer", L"progress"), L"-16");
    EXPECT_EQ(Types(model.Requests(L"newer")), (std::vector<std::wstring>{L"GetInformation"}));

    RunUpdate(L"update");
    EXPECT_EQ(model.GetDeviceValue(L"newer", L"progress"), L"100");
}

// Only an idle device is asked or skipped for newer firmware. One with an unfinished update is
// resumed whatever version it reports, and a busy or unreachable one ends with its own result.
TEST(UpdateControllerDowngrade, AppliesToIdleDevicesOnly) {
    tv::InitializeProtocolLibraries();
    for (const wchar_t* policy : {L"skip", L"inquiry"}) {
        FakeFleetModel model;
        model.AddCarriedImageParts();
        FakeDevice& broken = model.Add(L"broken-7");
        Broken(broken, L"7");
        model.Add(L"self-updating").status = L"SelfUpdating";
        Busy(model.Add(L"printing"), L"Print");
        model.Add(L"gone").reachable = false;
        for (const std::wstring& host : model.hosts) {
            model.Device(host).version = L"Ver.4.00TC";
            model.values[host][L"version"] = L"Ver.4.00TC";  // what an earlier test read
        }
        tv::CUpdateController controller(&model);
        ASSERT_TRUE(controller.StartUpdate(policy));
        ASSERT_TRUE(WaitForJobEnd(controller)) << Narrow(policy);  // nobody was asked
        const std::map<std::wstring, std::wstring> expected = {{L"broken-7", L"100"},
                                                               {L"self-updating", L"100"},
                                                               {L"printing", L"-5"},
                                                               {L"gone", L"-3"}};
        for (const auto& [host, progress] : expected) {
            const auto history = model.ProgressHistory(host);
            EXPECT_EQ(history.back(), progress) << Narrow(host) << " " << Narrow(policy);
            for (const wchar_t* question : {L"-15", L"-16"}) {
                EXPECT_EQ(std::count(history.begin(), history.end(), question), 0)
                    << Narrow(host) << " " << Narrow(policy);
            }
        }
        EXPECT_EQ(model.ProgressHistory(L"broken-7")[1], L"50");  // resumed at part 6
    }
}

// A host that answers in the very poll in which it first sees -15 is never refused: the runner
// is held right after it has shown -15 until that host has answered, where the question used to
// be shown but not yet open.
TEST_F(UpdateControllerTest, AQuestionIsOpenOnceItShows) {
    constexpr int kQuestions = 200;
    model.AddCarriedImageParts();
    for (int i = 0; i < kQuestions; ++i) {
        model.Add(L"newer-" + std::to_wstring(i)).version = L"Ver.4";
    }
    std::binary_semaphore shown{0};
    std::binary_semaphore tried{0};
    model.afterSet = [&](const std::wstring&, const std::wstring& key, const std::wstring& value) {
        if (key == L"progress" && value == L"-15") {
            shown.release();
            static_cast<void>(tried.try_acquire_for(std::chrono::seconds(5)));
        }
    };
    ASSERT_TRUE(controller.StartUpdate(L"inquiry"));
    int refused = 0;
    for (int question = 0; question < kQuestions; ++question) {
        ASSERT_TRUE(shown.try_acquire_for(std::chrono::seconds(20))) << question;
        const bool accepted = controller.AnswerInquiry(L"skip");
        tried.release();
        if (!accepted) {
            ++refused;  // a moment later the question opens; answer it so that the job ends
            ASSERT_TRUE(Eventually([&] { return controller.AnswerInquiry(L"skip"); }));
        }
    }
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_EQ(refused, 0);
    for (const std::wstring& host : model.hosts) {
        EXPECT_EQ(model.GetDeviceValue(host, L"progress"), L"-16") << Narrow(host);
    }
}

TEST_F(UpdateControllerTest, InquiryWaitsForOneAnswerPerDevice) {
    model.AddCarriedImageParts();
    model.Add(L"first").version = L"Ver.3.10TC";
    model.Add(L"second").version = L"Ver.4";
    // The order checked here is that of one device at a time, whatever the environment asks.
    ASSERT_TRUE(controller.Settings().SetDevicesAtATime(1));
    ASSERT_TRUE(controller.StartUpdate(L"inquiry"));

    ASSERT_TRUE(WaitForProgress(model, L"first", L"-15"));
    EXPECT_FALSE(controller.AnswerInquiry(L"Update"));
    EXPECT_TRUE(controller.AnswerInquiry(L"skip"));
    EXPECT_FALSE(controller.AnswerInquiry(L"skip"));  // one inquiry takes one answer

    ASSERT_TRUE(WaitForProgress(model, L"second", L"-15"));
    EXPECT_EQ(model.GetDeviceValue(L"first", L"progress"), L"-16");
    EXPECT_TRUE(controller.AnswerInquiry(L"update"));
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_EQ(model.GetDeviceValue(L"second", L"progress"), L"100");
    const auto history = model.ProgressHistory(L"second");
    EXPECT_NE(std::find(history.begin(), history.end(), L"-15"), history.end());
}

TEST_F(UpdateControllerTest, FailuresEndOneDeviceAndTheJobGoesOn) {
    model.AddCarriedImageParts();
    struct Case {
        const wchar_t* host;
        const wchar_t* part;
        const wchar_t* reason;
        const wchar_t* progress;
    };
    const Case refusals[] = {
        {L"cm-invalid", L"BackupSettingValue", L"InvalidFile", L"-14"},
        {L"cm-another", L"ReChangeMode", L"AnotherUpdating", L"-4"},
        {L"cm-modenot", L"BackupSettingValue", L"ModeNotChanged", L"-14"},
        {L"up-modenot", L"WriteNewKernel", L"ModeNotChanged", L"-14"},
        {L"up-print", L"WriteNewRootfs", L"AnotherApp:Print", L"-5"},
        {L"up-hid", L"Reboot", L"AnotherApp:HIDNotification", L"-18"},
        {L"up-version", L"CopyWritableRegion", L"VersionNotSame", L"-14"},
    };
    for (const Case& c : refusals) {
        model.Add(c.host).refusals[c.part] = c.reason;
    }
    model.Add(L"never-back").comesBackAfterRestart = false;
    model.Add(L"back-busy").statusAfterRestart = L"AnotherUpdating";
    model.Add(L"http-500").httpStatus = 500;
    model.Add(L"fine");
    RunUpdate(L"update");

    for (const Case& c : refusals) {
        EXPECT_EQ(model.GetDeviceValue(c.host, L"progress"), c.progress) << c.host;
        EXPECT_EQ(model.GetDeviceValue(c.host, L"sendfile").empty(),
                  std::wstring(c.part) == L"BackupSettingValue" ||
                      std::wstring(c.part) == L"ReChangeMode")
            << c.host;
    }
    EXPECT_EQ(model.GetDeviceValue(L"never-back", L"progress"), L"-3");
    // Test and change mode, then the first probe and the two retries, then nothing more.
    EXPECT_EQ(model.Device(L"never-back").opens, 2 + 3);
    EXPECT_EQ(model.GetDeviceValue(L"back-busy", L"progress"), L"-4");
    EXPECT_EQ(model.GetDeviceValue(L"http-500", L"progress"), L"-3");
    EXPECT_EQ(model.GetDeviceValue(L"fine", L"progress"), L"100");
}

// Whatever a device reports after a restart, its run ends, and with 100 only when it really runs
// the new firmware.
TEST_F(UpdateControllerTest, StatusesAfterARestartEndEveryDeviceTruthfully) {
    struct Case {
        const wchar_t* host;
        const wchar_t* status;    // after each restart
        const wchar_t* progress;  // with "Broken"
        const wchar_t* result;
    };
    const Case cases[] = {
        {L"idle", L"Idle", L"", L"100"},
        {L"broken-12", L"Broken", L"12", L"-14"},  // no such part
        {L"broken-0", L"Broken", L"0", L"-14"},
        {L"broken-1", L"Broken", L"1", L"-14"},  // part 1 again and again
        {L"broken-2", L"Broken", L"2", L"-14"},  // back to part 2 after every restart
        {L"broken-empty", L"Broken", L"", L"-14"},
        {L"broken-07", L"Broken", L"07", L"-14"},
        {L"free-normalend", L"Broken", L"NormalEnd", L"-14"},
        {L"free-sameversion", L"Broken", L"SameVersion", L"-14"},
        {L"free-skip", L"Broken", L"UpdateSkip", L"-14"},
        {L"free-inquiry", L"Broken", L"DowngradeInquiry", L"-14"},
        {L"another", L"AnotherUpdating", L"", L"-4"},
        {L"busy", L"AnotherApp", L"", L"-5"},
    };
    model.AddCarriedImageParts();
    for (const Case& c : cases) {
        FakeDevice& device = model.Add(c.host);
        device.statusAfterRestart = c.status;
        device.progressAfterRestart = c.progress;
        device.appName = L"Print";
    }
    RunUpdate(L"update");
    for (const Case& c : cases) {
        EXPECT_EQ(model.GetDeviceValue(c.host, L"progress"), c.result) << c.host;
        // No row runs more than twice: at most the plan's 12 requests twice, plus the probes.
        EXPECT_LE(model.Requests(c.host).size(), 2u * 14u) << c.host;
    }
    const auto broken1 = Types(model.Requests(L"broken-1"));
    EXPECT_EQ(std::count(broken1.begin(), broken1.end(), L"ChangeMode:BackupSettingValue"), 2);
}

TEST_F(UpdateControllerTest, TheLastPartIsConfirmedByTheVersionTheDeviceReports) {
    struct Case {
        const wchar_t* host;
        void (*script)(FakeDevice&);
        const wchar_t* result;
        const wchar_t* versionAfter;
    };
    const Case cases[] = {
        {L"kept-old", [](FakeDevice& d) { d.keepsOldFirmware = true; }, L"-19", L"Ver.3.00TC"},
        {L"never-answers", [](FakeDevice& d) { d.silentOpensAfterLastPart = -1; }, L"-3",
         L"Ver.3.01TC"},
        // Does not answer at once: restarts to apply the firmware, then answers the wait.
        {L"restarts", [](FakeDevice& d) { d.silentOpensAfterLastPart = 2; }, L"100", L"Ver.3.01TC"},
        // White space around the reported version is not part of it.
        {L"indented",
         [](FakeDevice& d) {
             d.keepsOldFirmware = true;
             d.version = L"\n    Ver.3.01TC\n  ";
         },
         L"100", L"\n    Ver.3.01TC\n  "},
    };
    model.AddCarriedImageParts();
    for (const Case& c : cases) {
        c.script(model.Add(c.host));
    }
    RunUpdate(L"update");
    for (const Case& c : cases) {
        EXPECT_EQ(model.GetDeviceValue(c.host, L"progress"), c.result) << c.host;
        EXPECT_EQ(model.Device(c.host).version, c.versionAfter) << c.host;
        const auto history = model.ProgressHistory(c.host);
        ASSERT_GE(history.size(), 2u);
        EXPECT_EQ(history[history.size() - 2], L"91") << c.host;  // kept while confirming
    }
    // The version column shows what the device reported at the end.
    EXPECT_EQ(model.GetDeviceValue(L"kept-old", L"version"), L"Ver.3.00TC");
}

TEST(UpdateControllerStop, DestroyingTheControllerEndsARunningJobWithinASecond) {
    struct Case {
        const char* name;
        void (*script)(FakeFleetModel&);
        const wchar_t* policy;
        const wchar_t* waitFor;  // progress that shows the job is where it should be stopped
    };
    const Case cases[] = {
        {"restart wait",
         [](FakeFleetModel& m) { m.values[L"dev"][L"rebootfirstwait"] = L"600000"; }, L"update",
         L"8"},
        {"stalled transfer", [](FakeFleetModel& m) { m.Device(L"dev").stallsOnChangeMode = true; },
         L"update", L"8"},
        {"downgrade question", [](FakeFleetModel& m) { m.Device(L"dev").version = L"Ver.9"; },
         L"inquiry", L"-15"},
    };
    tv::InitializeProtocolLibraries();
    for (const Case& c : cases) {
        FakeFleetModel model;
        model.AddCarriedImageParts();
        model.Add(L"dev");
        model.Add(L"next");
        c.script(model);
        auto controller = std::make_unique<tv::CUpdateController>(&model);
        // "next" must wait its turn, whatever width the environment asks for.
        ASSERT_TRUE(controller->Settings().SetDevicesAtATime(1));
        ASSERT_TRUE(controller->StartUpdate(c.policy)) << c.name;
        ASSERT_TRUE(WaitForProgress(model, L"dev", c.waitFor)) << c.name;
        const auto before = std::chrono::steady_clock::now();
        controller.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1)) << c.name;
        EXPECT_FALSE(model.IsBusy()) << c.name;
        EXPECT_TRUE(model.Requests(L"next").empty()) << c.name;  // nothing after the stop
        for (const wchar_t* host : {L"dev", L"next"}) {
            const int progress = std::stoi(model.GetDeviceValue(host, L"progress"));
            EXPECT_TRUE(progress < 0 || progress == 100) << c.name;
        }
    }
}

// A fleet whose devices go every way an update can go, for runs at different widths.
void AddMixedFleet(FakeFleetModel& model) {
    model.AddCarriedImageParts();
    model.Add(L"idle");
    Broken(model.Add(L"broken-5"), L"5");
    Broken(model.Add(L"broken-7"), L"7");
    model.Add(L"newer").version = L"Ver.3.02TC";
    model.Add(L"refusing").refusals[L"WriteNewRootfs"] = L"AnotherApp:Print";
    model.Add(L"never-back").comesBackAfterRestart = false;
    model.Add(L"back-broken").statusAfterRestart = L"Broken";
    model.Add(L"kept-old").keepsOldFirmware = true;
    model.Add(L"http-500").httpStatus = 500;
    for (int i = 0; i < 7; ++i) {
        model.Add(L"plain-" + std::to_wstring(i));
    }
    for (const std::wstring& host : model.hosts) {
        model.values[host][L"rebootfirstwait"] = L"100";
    }
}

TEST(UpdateControllerWidth, SeveralDevicesAtATimeEndEveryDeviceAsOneAtATimeDoes) {
    tv::InitializeProtocolLibraries();
    std::map<std::wstring, std::wstring> serial;
    std::chrono::steady_clock::duration serialTime{};
    for (const int width : {1, 8}) {
        FakeFleetModel model;
        AddMixedFleet(model);
        tv::CUpdateController controller(&model);
        ASSERT_TRUE(controller.Settings().SetDevicesAtATime(width));
        const auto before = std::chrono::steady_clock::now();
        ASSERT_TRUE(controller.StartUpdate(L"skip"));
        ASSERT_TRUE(WaitForJobEnd(controller));
        const auto took = std::chrono::steady_clock::now() - before;
        for (const std::wstring& host : model.hosts) {
            const std::wstring progress = model.GetDeviceValue(host, L"progress");
            if (width == 1) {
                serial[host] = progress;
            } else {
                EXPECT_EQ(progress, serial[host]) << host;
            }
            EXPECT_EQ(model.GetDeviceValue(host, L"phase"), L"") << host;
        }
        if (width == 1) {
            serialTime = took;
            EXPECT_EQ(serial[L"idle"], L"100");
            EXPECT_EQ(serial[L"kept-old"], L"-19");
            EXPECT_EQ(serial[L"newer"], L"-16");
        } else {
            EXPECT_LT(took * 3, serialTime);  // restart waits overlap
        }
    }
}

TEST_F(UpdateControllerTest, PhasesTellWhatADeviceIsDoing) {
    model.AddCarriedImageParts();
    model.Add(L"dev");
    RunUpdate(L"skip");
    std::vector<std::wstring> expected = {L"", L"test", L"upload 1/11", L"restart"};
    for (int part = 2; part <= 11; ++part) {
        expected.push_back(L"upload " + std::to_wstring(part) + L"/11");
        if (part == 5) {
            expected.push_back(L"restart");
        }
    }
    expected.insert(expected.end(), {L"confirm", L""});
    EXPECT_EQ(model.phaseHistory[L"dev"], expected);
}

TEST_F(UpdateControllerTest, DowngradeQuestionsComeOneAtATimeWhileOthersGoOn) {
    model.AddCarriedImageParts();
    model.Add(L"newer-a").version = L"Ver.4";
    model.Add(L"newer-b").version = L"Ver.5";
    model.Add(L"older");
    ASSERT_TRUE(controller.Settings().SetDevicesAtATime(3));
    ASSERT_TRUE(controller.StartUpdate(L"inquiry"));
    // The older device is rewritten while the question waits.
    ASSERT_TRUE(WaitForProgress(model, L"older", L"100"));
    std::vector<std::wstring> answered;
    for (int question = 0; question < 2; ++question) {
        ASSERT_TRUE(Eventually([&] {
            return model.GetDeviceValue(L"newer-a", L"progress") == L"-15" ||
                   model.GetDeviceValue(L"newer-b", L"progress") == L"-15";
        }));
        const bool aAsks = model.GetDeviceValue(L"newer-a", L"progress") == L"-15";
        const std::wstring asking = aAsks ? L"newer-a" : L"newer-b";
        EXPECT_NE(model.GetDeviceValue(aAsks ? L"newer-b" : L"newer-a", L"progress"), L"-15");
        EXPECT_TRUE(controller.AnswerInquiry(asking == L"newer-a" ? L"skip" : L"update"));
        answered.push_back(asking);
    }
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_NE(answered[0], answered[1]);
    EXPECT_EQ(model.GetDeviceValue(L"newer-a", L"progress"), L"-16");
    EXPECT_EQ(model.GetDeviceValue(L"newer-b", L"progress"), L"100");
}

TEST_F(UpdateControllerTest, DevicesAtATimeIsASettingBetweenJobs) {
    // The default is checked without the override a test run may set; it is restored at the end.
    const char* inherited = std::getenv("VORTA_PARALLEL_DEVICES");
    const bool overridden = inherited != nullptr;
    const std::string restore = overridden ? inherited : "";
    ::unsetenv("VORTA_PARALLEL_DEVICES");
    EXPECT_EQ(tv::CUpdateController(&model).Settings().GetDevicesAtATime(), 1);
    tv::CJobSettings& settings = controller.Settings();
    for (const int bad : {0, -1, 65, 1000}) {
        EXPECT_FALSE(settings.SetDevicesAtATime(bad)) << bad;
    }
    EXPECT_TRUE(settings.SetDevicesAtATime(64));
    ASSERT_TRUE(model.TryBeginBusy());  // a job runs
    EXPECT_FALSE(settings.SetDevicesAtATime(2));
    model.EndBusy();
    EXPECT_EQ(settings.GetDevicesAtATime(), 64);

    for (const auto& [text, value] : std::vector<std::pair<const char*, int>>{
             {"16", 16}, {"64", 64}, {"65", 1}, {"0", 1}, {" 4", 1}, {"4x", 1}, {"", 1}}) {
        ::setenv("VORTA_PARALLEL_DEVICES", text, 1);
        EXPECT_EQ(tv::CUpdateController(&model).Settings().GetDevicesAtATime(), value) << text;
    }
    if (overridden) {
        ::setenv("VORTA_PARALLEL_DEVICES", restore.c_str(), 1);
    } else {
        ::unsetenv("VORTA_PARALLEL_DEVICES");
    }
}

// A rerun over devices that already run the image changes nothing, unless all are rewritten.
TEST(UpdateControllerReruns, DevicesAtTheImagesVersionAreLeftAloneUnlessAllAreRewritten) {
    tv::InitializeProtocolLibraries();
    struct Case {
        const wchar_t* policy;
        const wchar_t* current;  // progress of the idle device at the image's version
    };
    for (const Case& c : {Case{L"skip", L"-2"}, Case{L"inquiry", L"-2"}, Case{L"update", L"100"}}) {
        FakeFleetModel model;
        model.AddCarriedImageParts();
        model.Add(L"current").version = L"Ver.3.01TC";
        model.Add(L"indented").version = L" Ver.3.01TC\n";
        FakeDevice& broken = model.Add(L"broken");
        broken.version = L"Ver.3.01TC";
        Broken(broken, L"7");
        model.Add(L"older");
        tv::CUpdateController controller(&model);
        ASSERT_TRUE(controller.StartUpdate(c.policy));
        ASSERT_TRUE(WaitForJobEnd(controller));
        const std::string policy = Narrow(c.policy);
        for (const wchar_t* host : {L"current", L"indented"}) {
            EXPECT_EQ(model.GetDeviceValue(host, L"progress"), c.current) << policy;
            const std::size_t requests = model.Requests(host).size();
            EXPECT_EQ(requests == 1, std::wstring(c.current) == L"-2") << policy;  // the test only
        }
        // An unfinished update is resumed whatever the version says.
        EXPECT_EQ(model.ProgressHistory(L"broken")[1], L"50") << policy;
        EXPECT_EQ(model.GetDeviceValue(L"broken", L"progress"), L"100") << policy;
        EXPECT_EQ(model.GetDeviceValue(L"older", L"progress"), L"100") << policy;
    }
}

// The engine drains itself at the n-th device that fails once its rewrite began; what failed
// before (tests, busy, skipped, same version) does not count.
TEST(UpdateControllerStopRule, TheNthCountedFailureStopsDevicesFromStarting) {
    tv::InitializeProtocolLibraries();
    FakeFleetModel model;
    model.AddCarriedImageParts();
    model.Add(L"unreachable").reachable = false;
    model.Add(L"busy").status = L"AnotherUpdating";
    model.Add(L"newer").version = L"Ver.4.00TC";
    model.Add(L"current").version = L"Ver.3.01TC";
    model.Add(L"busy-switch").refusals[L"BackupSettingValue"] = L"AnotherApp:Print";
    model.Add(L"fails-1").refusals[L"BackupSettingValue"] = L"InvalidFile";
    model.Add(L"fine");
    model.Add(L"fails-2").refusals[L"WriteNewKernel"] = L"ModeNotChanged";
    model.Add(L"after-1");
    model.Add(L"after-2");
    // The fake fleet ends its job in moments; the job holds its token a while after its last
    // device so that the setting is seen refused while the job runs.
    ::setenv("VORTA_JOB_END_DELAY_MS", "200", 1);
    tv::CUpdateController controller(&model);
    ::unsetenv("VORTA_JOB_END_DELAY_MS");
    tv::CJobSettings& settings = controller.Settings();
    ASSERT_TRUE(settings.SetDevicesAtATime(1));
    EXPECT_FALSE(settings.SetStopAfterFailures(-1));
    ASSERT_TRUE(settings.SetStopAfterFailures(2));
    ASSERT_TRUE(controller.StartUpdate(L"skip"));
    EXPECT_FALSE(settings.SetStopAfterFailures(5));  // not while a job runs
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_EQ(settings.GetStopAfterFailures(), 2);
    EXPECT_EQ(settings.GetCountedFailures(), 2);  // hosts add these up over their jobs

    const std::map<std::wstring, std::wstring> expected = {
        {L"unreachable", L"-3"}, {L"busy", L"-4"},     {L"newer", L"-16"}, {L"current", L"-2"},
        {L"busy-switch", L"-5"}, {L"fails-1", L"-14"}, {L"fine", L"100"},  {L"fails-2", L"-14"},
        {L"after-1", L"-20"},    {L"after-2", L"-20"}};
    for (const auto& [host, progress] : expected) {
        EXPECT_EQ(model.GetDeviceValue(host, L"progress"), progress) << Narrow(host);
        const bool counted = host.starts_with(L"fails");
        EXPECT_EQ(model.GetDeviceValue(host, L"failurecounted"), counted ? L"true" : L"")
            << Narrow(host);
    }
    for (const wchar_t* host : {L"after-1", L"after-2"}) {
        EXPECT_TRUE(model.Requests(host).empty());
        EXPECT_EQ(model.ProgressHistory(host), (std::vector<std::wstring>{L"0", L"-20"}));
    }

    // The setting stays for the next job, which starts counting again.
    ASSERT_TRUE(controller.StartUpdate(L"skip"));
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_EQ(model.GetDeviceValue(L"after-1", L"progress"), L"-20");
    EXPECT_EQ(model.GetDeviceValue(L"after-2", L"progress"), L"-20");
    EXPECT_EQ(model.GetDeviceValue(L"fine", L"progress"), L"-2");  // rewritten before
}

// A busy refusal while the device is being switched into its update mode says nothing about
// the image: it is not counted. Once the device is in its update mode every failure counts, and
// the device's "failurecounted" says so until its next job starts.
TEST(UpdateControllerStopRule, BusyCountsOnlyOnceTheDeviceIsInItsUpdateMode) {
    tv::InitializeProtocolLibraries();
    struct Case {
        const wchar_t* host;
        void (*script)(FakeDevice&);
        const wchar_t* progress;
        bool counted;
    };
    const Case cases[] = {
        {L"busy-switch",
         [](FakeDevice& d) { d.refusals[L"BackupSettingValue"] = L"AnotherApp:Print"; }, L"-5",
         false},
        {L"other-tool-switch",
         [](FakeDevice& d) { d.refusals[L"BackupSettingValue"] = L"AnotherUpdating"; }, L"-4",
         false},
        {L"self-updating-switch",
         [](FakeDevice& d) {
             d.status = L"SelfUpdating";
             d.refusals[L"BackupSettingValue"] = L"AnotherApp:WebConfig";
         },
         L"-7", false},
        // It accepted the first change mode and restarted into its update mode: busy after
        // that restart is a failure of the update.
        {L"back-busy", [](FakeDevice& d) { d.statusAfterRestart = L"AnotherUpdating"; }, L"-4",
         true},
        {L"busy-test", [](FakeDevice& d) { d.status = L"AnotherUpdating"; }, L"-4", false},
        {L"invalid-switch",
         [](FakeDevice& d) { d.refusals[L"BackupSettingValue"] = L"InvalidFile"; }, L"-14", true},
        {L"busy-rechange", [](FakeDevice& d) { d.refusals[L"ReChangeMode"] = L"AnotherUpdating"; },
         L"-4", true},
        {L"busy-part-8", [](FakeDevice& d) { d.refusals[L"WriteNewRootfs"] = L"AnotherApp:Print"; },
         L"-5", true},
        {L"resumed-busy",
         [](FakeDevice& d) {
             Broken(d, L"7");
             d.refusals[L"ReChangeMode"] = L"AnotherApp:Print";
         },
         L"-5", true},
        {L"fine", [](FakeDevice&) {}, L"100", false},
    };
    FakeFleetModel model;
    model.AddCarriedImageParts();
    int counted = 0;
    for (const Case& c : cases) {
        c.script(model.Add(c.host));
        counted += c.counted ? 1 : 0;
    }
    tv::CUpdateController controller(&model);
    ASSERT_TRUE(controller.StartUpdate(L"update"));
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_EQ(controller.Settings().GetCountedFailures(), counted);
    for (const Case& c : cases) {
        EXPECT_EQ(model.GetDeviceValue(c.host, L"progress"), c.progress) << Narrow(c.host);
        EXPECT_EQ(model.GetDeviceValue(c.host, L"failurecounted"), c.counted ? L"true" : L"")
            << Narrow(c.host);
    }
    // The next job, a test too, starts every target afresh.
    ASSERT_TRUE(controller.StartCommunicationTest());
    ASSERT_TRUE(WaitForJobEnd(controller));
    for (const Case& c : cases) {
        EXPECT_EQ(model.GetDeviceValue(c.host, L"failurecounted"), L"") << Narrow(c.host);
    }
}

// With many devices at once the stop is still exact: once the limit is reached no runner takes
// a device, so at most the devices already running when it was reached end after it.
TEST(UpdateControllerStopRule, ExactWithEightDevicesAtATime) {
    tv::InitializeProtocolLibraries();
    for (const int limit : {1, 3, 8}) {
        FakeFleetModel model;
        model.AddCarriedImageParts();
        for (int i = 0; i < 8; ++i) {
            model.Add(L"fails-" + std::to_wstring(i)).refusals[L"BackupSettingValue"] =
                L"InvalidFile";
        }
        for (int i = 0; i < 16; ++i) {
            model.Add(L"slow-" + std::to_wstring(i));
            model.values[L"slow-" + std::to_wstring(i)][L"rebootfirstwait"] = L"300";
        }
        tv::CUpdateController controller(&model);
        ASSERT_TRUE(controller.Settings().SetDevicesAtATime(8));
        ASSERT_TRUE(controller.Settings().SetStopAfterFailures(limit));
        ASSERT_TRUE(controller.StartUpdate(L"update"));
        ASSERT_TRUE(WaitForJobEnd(controller));
        int notStarted = 0;
        for (const std::wstring& host : model.hosts) {
            const std::wstring progress = model.GetDeviceValue(host, L"progress");
            if (progress == L"-20") {
                ++notStarted;
                EXPECT_TRUE(model.Requests(host).empty()) << Narrow(host);
            } else {
                // Started devices end exactly as they would have.
                EXPECT_EQ(progress, host.starts_with(L"fails") ? L"-14" : L"100") << Narrow(host);
            }
        }
        // The first eight start together; each runner freed before the limit took one more.
        EXPECT_GE(notStarted, 24 - (limit + 7)) << limit;
        EXPECT_GT(notStarted, 0) << limit;
    }
}

TEST_F(UpdateControllerTest, TheJobStateTellsWhenTheNextJobCanStart) {
    tv::CJobSettings& settings = controller.Settings();
    EXPECT_EQ(settings.GetJobState(), tv::EJobState::Idle);
    EXPECT_FALSE(settings.StopStartingDevices());  // no job
    model.AddCarriedImageParts();
    model.Add(L"newer").version = L"Ver.4.00TC";
    ASSERT_TRUE(settings.SetDevicesAtATime(1));

    ASSERT_TRUE(controller.StartCommunicationTest());
    EXPECT_EQ(settings.GetJobState(), tv::EJobState::Testing);
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_TRUE(model.TryBeginBusy());  // idle means the token is back
    model.EndBusy();

    ASSERT_TRUE(controller.StartUpdate(L"inquiry"));
    EXPECT_NE(settings.GetJobState(), tv::EJobState::Idle);
    ASSERT_TRUE(WaitForProgress(model, L"newer", L"-15"));
    EXPECT_EQ(settings.GetJobState(), tv::EJobState::AwaitingAnswer);
    ASSERT_TRUE(controller.AnswerInquiry(L"update"));
    EXPECT_EQ(settings.GetJobState(), tv::EJobState::Updating);
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_EQ(model.GetDeviceValue(L"newer", L"progress"), L"100");
    EXPECT_TRUE(controller.StartCommunicationTest());  // never refused for the ended job
    ASSERT_TRUE(WaitForJobEnd(controller));
}

// A worker slow to give the token back (VORTA_JOB_END_DELAY_MS) keeps the state from turning
// idle: a host that waits for the state never sees its next start refused.
TEST(UpdateControllerJobState, IdleComesOnlyWithTheTokenBack) {
    tv::InitializeProtocolLibraries();
    FakeFleetModel model;
    model.AddCarriedImageParts();
    model.Add(L"dev");
    ::setenv("VORTA_JOB_END_DELAY_MS", "300", 1);
    tv::CUpdateController controller(&model);
    ::unsetenv("VORTA_JOB_END_DELAY_MS");
    ASSERT_TRUE(controller.StartCommunicationTest());
    ASSERT_TRUE(WaitForProgress(model, L"dev", L"100"));
    EXPECT_EQ(controller.Settings().GetJobState(), tv::EJobState::Testing);
    EXPECT_FALSE(controller.StartUpdate(L"skip"));  // what a host guessing from progress met
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_TRUE(controller.StartUpdate(L"skip"));
    ASSERT_TRUE(WaitForJobEnd(controller));
    EXPECT_EQ(model.GetDeviceValue(L"dev", L"progress"), L"100");
}

// A drain from the host: the started devices finish, the rest end "NotStarted" untouched.
TEST(UpdateControllerDrain, StartedDevicesFinishTheOthersNeverStart) {
    tv::InitializeProtocolLibraries();
    {
        FakeFleetModel model;
        model.AddCarriedImageParts();
        for (int i = 0; i < 8; ++i) {
            const std::wstring host = L"dev-" + std::to_wstring(i);
            model.Add(host);
            model.values[host][L"rebootfirstwait"] = i == 0 ? L"0" : L"300";
        }
        tv::CUpdateController controller(&model);
        ASSERT_TRUE(controller.Settings().SetDevicesAtATime(2));
        ASSERT_TRUE(controller.StartUpdate(L"update"));
        ASSERT_TRUE(WaitForProgress(model, L"dev-0", L"100"));
        ASSERT_TRUE(controller.Settings().StopStartingDevices());
        ASSERT_TRUE(WaitForJobEnd(controller));
        int finished = 0;
        for (const std::wstring& host : model.hosts) {
            const std::wstring progress = model.GetDeviceValue(host, L"progress");
            finished += progress == L"100" ? 1 : 0;
            EXPECT_TRUE(progress == L"100" || progress == L"-20") << Narrow(host);
            EXPECT_EQ(model.Requests(host).empty(), progress == L"-20") << Narrow(host);
        }
        // dev-0 and dev-1 at once, and perhaps dev-2, taken as dev-0 ended.
        EXPECT_GE(finished, 2);
        EXPECT_LE(finished, 3);
    }
}

TEST(VersionDecision, NewerComparesTheMajorNumberFirstThenTheRestPadded) {
    struct Row {
        const wchar_t* image;
        const wchar_t* device;
        bool newer;
    };
    const Row rows[] = {
        {L"Ver.3.01TC", L"Ver.3.1", true},  // 3 = 3, then 01 < 10
        {L"Ver.3.01TC", L"Ver.3.02TC", true},
        {L"Ver.3.01TC", L"Ver.3.01TC", false},
        {L"Ver.3.01TC", L"Ver.3.00TC", false},
        {L"Ver.3.01TC", L"Ver.3", false},  // 01 > 00
        {L"Ver.3.01TC", L"Ver.10.00TC", true},
        {L"Ver.3.01TC", L"Ver.100.0", true},
        {L"Ver.10.00TC", L"Ver.3.01TC", false},
        {L"Ver.10.00TC", L"Ver.9.99TC", false},
        {L"Ver.100.0", L"Ver.99.99", false},
        {L"Ver.100.0", L"Ver.101.0", true},
        {L"Ver.3.01TC", L"Ver.4.00TC", true},
        {L"Ver.4.00TC", L"Ver.3.99", false},
        {L"Ver.03.01TC", L"Ver.3.01TC", false},  // leading zeros of the major mean nothing
        {L"Ver.3.01TC", L"Ver.003.02", true},
        {L"Ver.3.01TC", L"Ver.99999999999999999999.0", true},  // beyond any integer type
        {L"Ver.3.01TC", L"Ver.3a1", true},                     // letters between the digits
        {L"Ver.3.01TC", L"V3-b0-c2", true},
        {L"Ver.3.01TC", L"", false},  // an empty device version is never newer
        {L"Ver.3.01TC", L"unknown", false},
        {L"", L"Ver.0.1", true},  // an image without a version: any digit other than 0
        {L"", L"Ver.0.0", false},
        {L"", L"unknown", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(tv::common::CVersionDecision::IsDeviceNewer(row.image, row.device), row.newer)
            << "image " << Narrow(row.image) << ", device " << Narrow(row.device);
    }
}

TEST(VersionDecision, OnlyAnIdleDeviceAtExactlyTheImagesVersionIsCurrent) {
    struct Row {
        const wchar_t* policy;
        const wchar_t* status;
        const wchar_t* device;
        bool current;
    };
    const Row rows[] = {
        {L"skip", L"Idle", L"Ver.3.01TC", true},
        {L"inquiry", L"Idle", L"Ver.3.01TC", true},
        {L"update", L"Idle", L"Ver.3.01TC", false},  // "rewrite all" rewrites it
        {L"skip", L"Idle", L"\n  Ver.3.01TC \t", true},
        {L"skip", L"Idle", L"Ver.3.01tc", false},
        {L"skip", L"Idle", L"Ver.3.1", false},
        {L"skip", L"Idle", L"Ver.03.01TC", false},
        {L"skip", L"7", L"Ver.3.01TC", false},  // an unfinished update is resumed
        {L"skip", L"SelfUpdating", L"Ver.3.01TC", false},
        {L"skip", L"TimeOut", L"Ver.3.01TC", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(tv::common::CVersionDecision::IsAlreadyCurrent(row.policy, row.status,
                                                                 L"Ver.3.01TC", row.device),
                  row.current)
            << Narrow(row.policy) << " " << Narrow(row.status) << " " << Narrow(row.device);
    }
    EXPECT_FALSE(tv::common::CVersionDecision::IsAlreadyCurrent(L"skip", L"Idle", L"", L""));
}
