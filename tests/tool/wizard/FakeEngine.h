#pragma once
// A stand-in for the engine behind its exported interfaces: devices with value tables and a
// scripted progress per device, and a controller whose jobs the test plays by hand. Everything
// runs on the test's main thread except the image load, which the wizard calls on its worker.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/interface/CDevInfoIF.h"
#include "engine/interface/CHostNameIterator.h"
#include "engine/interface/CUpdateControllerExport.h"
#include "engine/interface/CUpdateModelExport.h"
#include "engine/interface/CUpdateSettingsExport.h"
#include "tool/wizard/WizardEngineAccess.h"

namespace fake {

namespace tv = talbo::tesk::vorta;

class Device : public tv::CDevInfoIF {
public:
    explicit Device(std::wstring host);
    const wchar_t* GetValue(const wchar_t* key) override;

    // The next progress value: the front of the script, or the last value once it is used up.
    // GetProgress takes it; reading "progress" through GetValue gives the value taken last, so
    // the rows show what the run session saw.
    int NextProgress();

    std::map<std::wstring, std::wstring> values;
    std::deque<int> script;
    int progress = 0;
};

class Model : public tv::CUpdateModelExport {
public:
    bool LoadUpdateImage(const wchar_t* path) override;
    bool AddDevice(const wchar_t* hostName) override;
    bool ImportDeviceList(const wchar_t* path) override;
    tv::CHostNameIterator GetHostNameIterator() override;
    tv::CDevInfoIF* GetDeviceInfo(const wchar_t* hostName) override;
    int GetProgress(const wchar_t* hostName) override;
    bool SetUpdateTarget(const wchar_t* hostName, bool update) override;

    Device* Find(const std::wstring& host);
    Device& At(const std::wstring& host);  // the device, which must exist

    std::vector<std::unique_ptr<Device>> devices;
    std::vector<std::pair<std::wstring, bool>> targetCalls;

private:
    // Host name to device, rebuilt whenever a test has changed the devices directly.
    std::map<std::wstring, Device*> byHost;
};

class Settings;

class Controller : public tv::CUpdateControllerExport {
public:
    // A job start records the targets (the devices whose "update" value is "true", in
    // registration order) and begins the job's count of failures at 0.
    bool StartCommunicationTest() override;
    bool StartUpdate(const wchar_t* downgradePolicy) override;
    bool AnswerInquiry(const wchar_t* answer) override;

    // What a started job does: sets the scripts of the devices; the result is the job's start.
    std::function<bool()> onTest;
    std::function<bool(const std::wstring& policy)> onUpdate;
    std::function<bool(const std::wstring& answer)> onAnswer;

    int testStarts = 0;
    std::vector<std::wstring> updatePolicies;
    std::vector<std::wstring> answers;
    // The targets of each job, started or refused, in the order of the starts.
    std::vector<std::vector<std::wstring>> testTargets;
    std::vector<std::vector<std::wstring>> updateTargets;

    Model* model = nullptr;  // the stand-in's, set by Engine
    Settings* settings = nullptr;

private:
    std::vector<std::wstring> Targets() const;
    void BeginJob();
};

class Settings : public tv::CUpdateSettingsExport {
public:
    bool SetDevicesAtATime(int devices) override;
    int GetDevicesAtATime() override { return devicesAtATime; }

    // The job state: what the stand-in's job reports for its next polls, then Idle.
    tv::EJobState GetJobState() override;
    // Plays the engine's drain with onStop (which ends the devices not started).
    bool StopStartingDevices() override {
        ++stopCalls;
        if (onStop) {
            onStop();
        }
        return static_cast<bool>(onStop);
    }
    bool SetStopAfterFailures(int failures) override;
    int GetStopAfterFailures() override { return stopAfterFailures; }
    int GetCountedFailures() override { return countedFailures; }

    int devicesAtATime = 1;
    bool refuse = false;  // as while a job runs
    std::vector<int> setCalls;
    std::deque<tv::EJobState> jobStates;  // the states of the next polls, then Idle
    int stopCalls = 0;
    std::function<void()> onStop;
    int stopAfterFailures = 0;
    int countedFailures = 0;  // of the running or last job: a job start sets it to 0
};

// The whole stand-in, with the access object the wizard takes.
class Engine {
public:
    Engine();

    WizardEngineAccess Access();

    // The version of the image the stand-in takes.
    static constexpr const wchar_t* kImageVersion = L"Ver.3.01TC";

    // Adds a registered device with the given values ("update" defaults to "true").
    Device& Register(const std::wstring& host,
                     const std::map<std::wstring, std::wstring>& values = {});

    // The image load: its result, how often it ran, and a gate that holds it until opened.
    std::atomic<bool> imageLoadResult{true};
    std::atomic<int> imageLoads{0};
    void HoldImageLoad();
    void ReleaseImageLoad();

    Model model;
    Controller controller;
    Settings settings;

private:
    bool LoadImage(const std::filesystem::path& path);

    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateClosed = false;
};

}  // namespace fake
