#include "engine/jobs/CUpdateController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "FakeFleetModel.h"

namespace tv = talbo::tesk::vorta;
using tv::testing::FakeDevice;
using tv::testing::FakeFleetModel;

namespace {

// Polls until the model's busy token is free again (the job gave it back) or a deadline passes.
bool WaitForJobEnd(FakeFleetModel& model) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!model.IsBusy()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
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
        ASSERT_TRUE(WaitForJobEnd(model));
    }
    void RunUpdate(const wchar_t* policy) {
        ASSERT_TRUE(controller.StartUpdate(policy));
        ASSERT_TRUE(WaitForJobEnd(model));
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
    ASSERT_TRUE(WaitForJobEnd(model));
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
        ASSERT_TRUE(WaitForJobEnd(model));
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
    ASSERT_TRUE(WaitForJobEnd(model));
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
    EXPECT_EQ(tv::CJobSettings(&model).GetDevicesAtATime(), 1);
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
        EXPECT_EQ(tv::CJobSettings(&model).GetDevicesAtATime(), value) << text;
    }
    if (overridden) {
        ::setenv("VORTA_PARALLEL_DEVICES", restore.c_str(), 1);
    } else {
        ::unsetenv("VORTA_PARALLEL_DEVICES");
    }
}

TEST(IsDeviceNewer, ComparesTheDigitsPaddedToEqualLength) {
    using tv::CUpdateController;
    EXPECT_TRUE(CUpdateController::IsDeviceNewer(L"Ver.3.01TC", L"Ver.3.1"));  // 301 < 310
    EXPECT_TRUE(CUpdateController::IsDeviceNewer(L"Ver.3.01TC", L"Ver.3.02TC"));
    EXPECT_FALSE(CUpdateController::IsDeviceNewer(L"Ver.3.01TC", L"Ver.3.01TC"));
    EXPECT_FALSE(CUpdateController::IsDeviceNewer(L"Ver.3.01TC", L"Ver.3.00TC"));
    EXPECT_FALSE(CUpdateController::IsDeviceNewer(L"Ver.3.01TC", L"Ver.3"));  // 301 > 300
    EXPECT_FALSE(CUpdateController::IsDeviceNewer(L"Ver.3.01TC", L""));
    EXPECT_TRUE(CUpdateController::IsDeviceNewer(L"", L"Ver.0.1"));
    EXPECT_FALSE(CUpdateController::IsDeviceNewer(L"", L"Ver.0.0"));
}
