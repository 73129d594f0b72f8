// Unloading the engine library while it works: the host's dlclose must return promptly and the
// process must live on, whatever the job was doing (a stalled upload, a restart wait, a question
// to the host), and also right after the last result of a job.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "SimulatorProcess.h"
#include "TestImage.h"
#include "engine/interface/VortaFWUpdateModule.h"

using namespace devsim_test;
using namespace std::chrono_literals;
namespace tv = talbo::tesk::vorta;

namespace {

// The library loaded for one test case and unloaded at its end (or by Unload).
class LoadedEngine {
public:
    LoadedEngine() {
        handle = ::dlopen(VORTA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            return;
        }
        const auto getModel =
            reinterpret_cast<tv::GetVortaUpdateModelFn>(::dlsym(handle, tv::kModelEntryName));
        const auto getController = reinterpret_cast<tv::GetVortaUpdateControllerFn>(
            ::dlsym(handle, tv::kControllerEntryName));
        model = getModel != nullptr ? getModel() : nullptr;
        controller = getController != nullptr ? getController() : nullptr;
    }
    ~LoadedEngine() { Unload(); }
    LoadedEngine(const LoadedEngine&) = delete;
    LoadedEngine& operator=(const LoadedEngine&) = delete;

    bool Loaded() const { return model != nullptr && controller != nullptr; }
    // How long dlclose took.
    std::chrono::steady_clock::duration Unload() {
        const auto before = std::chrono::steady_clock::now();
        if (handle != nullptr) {
            ::dlclose(handle);
            handle = nullptr;
            model = nullptr;
            controller = nullptr;
        }
        return std::chrono::steady_clock::now() - before;
    }

    void* handle = nullptr;
    tv::CUpdateModelExport* model = nullptr;
    tv::CUpdateControllerExport* controller = nullptr;
};

class EngineUnload : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("VORTA_REBOOT_FIRST_WAIT_MS", "150", 1);
        ::setenv("VORTA_REBOOT_RETRY_WAIT_MS", "100", 1);
        ::setenv("VORTA_REBOOT_RETRY_MAX", "20", 1);
        imagePath = folder.Write("small.rcx", ImageBytes(CarriedStepsSmall()));
    }

    void StartSimulator(const nlohmann::json& devices) {
        const nlohmann::json fleet = {{"defaults", {{"restart-ms", 200}}}, {"devices", devices}};
        sim = std::make_unique<SimulatorProcess>(
            std::vector<std::string>{"--fleet", folder.Write("fleet.json", fleet.dump()).string(),
                                     "--image", imagePath.string()});
        ASSERT_TRUE(sim->Started()) << sim->StandardError();
        const std::string proxy = "http://127.0.0.1:" + std::to_string(sim->Port());
        ::setenv("http_proxy", proxy.c_str(), 1);
        ::unsetenv("no_proxy");
    }

    static bool WaitForProgress(LoadedEngine& engine, const wchar_t* host,
                                bool (*reached)(int progress)) {
        return Eventually([&] { return reached(engine.model->GetProgress(host)); }, 30s);
    }

    TempFolder folder;
    std::filesystem::path imagePath;
    std::unique_ptr<SimulatorProcess> sim;
};

}  // namespace

TEST_F(EngineUnload, DuringAJobReturnsWithinTwoSeconds) {
    struct Case {
        const char* name;
        nlohmann::json device;
        const char* firstWaitMs;
        const wchar_t* policy;
        bool (*reached)(int progress);  // the device is where the unload should catch it
    };
    const Case cases[] = {
        {"stalled upload",
         {{"host", "u-stall.invalid"},
          {"faults", {{{"on", "Update"}, {"part", 3}, {"action", "stall"}, {"after-bytes", 100}}}}},
         "150",
         L"update",
         [](int p) { return p == 25; }},
        {"restart wait",
         {{"host", "u-wait.invalid"}},
         "600000",
         L"update",
         [](int p) { return p == 8; }},
        {"device that never comes back",
         {{"host", "u-never.invalid"}, {"faults", {{{"action", "no-comeback"}}}}},
         "150",
         L"update",
         [](int p) { return p == 8; }},
        {"downgrade question",
         {{"host", "u-ask.invalid"}, {"firmware", "Ver.9.00TC"}},
         "150",
         L"inquiry",
         [](int p) { return p == -15; }},
        {"communication test",
         {{"host", "u-test.invalid"},
          {"faults", {{{"on", "GetInformation"}, {"action", "stall"}}}}},
         "150",
         nullptr,
         [](int p) { return p == 40; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartSimulator(nlohmann::json::array({c.device}));
        ::setenv("VORTA_REBOOT_FIRST_WAIT_MS", c.firstWaitMs, 1);
        LoadedEngine engine;
        ASSERT_TRUE(engine.Loaded());
        const std::string host = c.device["host"];
        const std::wstring wide(host.begin(), host.end());
        ASSERT_TRUE(engine.model->AddDevice(wide.c_str()));
        if (c.policy != nullptr) {
            ASSERT_TRUE(engine.model->LoadUpdateImage(imagePath.wstring().c_str()));
            ASSERT_TRUE(engine.controller->StartUpdate(c.policy));
        } else {
            ASSERT_TRUE(engine.controller->StartCommunicationTest());
        }
        ASSERT_TRUE(WaitForProgress(engine, wide.c_str(), c.reached));
        EXPECT_LT(engine.Unload(), 2s);
        sim.reset();
    }
}

// The worker's last steps after the last result must not outlive the library: unloading at
// once, again and again, never runs code that is gone (a crash, or a report under the
// sanitizers).
TEST_F(EngineUnload, RightAfterTheLastResultAgainAndAgain) {
    StartSimulator(nlohmann::json::array({{{"host", "r-1.invalid"}}, {{"host", "r-2.invalid"}}}));
    for (int round = 0; round < 25; ++round) {
        LoadedEngine engine;
        ASSERT_TRUE(engine.Loaded()) << round;
        for (const wchar_t* host : {L"r-1.invalid", L"r-2.invalid"}) {
            ASSERT_TRUE(engine.model->AddDevice(host));
        }
        ASSERT_TRUE(engine.controller->StartCommunicationTest());
        ASSERT_TRUE(WaitForProgress(engine, L"r-2.invalid", [](int p) { return p == 100; }));
        EXPECT_LT(engine.Unload(), 2s);
    }
}
