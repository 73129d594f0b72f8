#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/interface/CUpdateControllerExport.h"
#include "engine/jobs/CAutoResetEvent.h"
#include "engine/jobs/CJobSettings.h"
#include "engine/jobs/CState.h"

namespace talbo::tesk::vorta {

class CUpdateModelIF;
class CVersionConfirmation;

// Runs the communication test and the firmware update over the target devices on a worker
// thread per job, reporting only through device values. With one device at a time (the
// default) the worker takes the devices one after the other in registration order; with N it
// runs N device runners, each taking the next device in registration order when it is free.
// Every device's run is the same either way; states that keep data of a run belong to one
// runner. The controller owns its worker: destroying it (the library being unloaded) raises the
// model's job stop signal and joins the worker and its runners, which leave every wait and
// transfer within a second.
class CUpdateController : public CUpdateControllerExport {
public:
    // How often one row of the update plan may start for one device in one job, the start of
    // a resumed update included; a device that would start it again is given up as
    // "OtherError" instead of being rewritten in a loop.
    static constexpr int kMaxRowStarts = 2;

    explicit CUpdateController(CUpdateModelIF* model);
    ~CUpdateController() override;

    CUpdateController(const CUpdateController&) = delete;
    CUpdateController& operator=(const CUpdateController&) = delete;

    bool StartCommunicationTest() override;
    bool StartUpdate(const wchar_t* downgradePolicy) override;
    bool AnswerInquiry(const wchar_t* answer) override;

    CJobSettings& Settings() { return settings; }

    // Whether the device's firmware is newer than the image's: the digits of both versions,
    // the shorter padded with '0', compared as text.
    static bool IsDeviceNewer(const std::wstring& imageVersion, const std::wstring& deviceVersion);

private:
    using Routine = void (*)(CUpdateController*);
    // The state tables one device runner works with.
    struct CRunnerStates {
        CStateTable testStates;
        CStateTable updateStates;
    };

    // Takes the busy token, runs start and gives the token back unless a job started.
    bool StartJob(const std::function<bool()>& start);
    std::vector<std::wstring> CollectTargets();
    bool StartWorker(Routine routine, const wchar_t* policy);
    static void TestThread(CUpdateController* controller);
    static void UpdateThread(CUpdateController* controller);
    // The worker's frame around a job's body: the targets, the devices a stop left unfinished,
    // and the busy token given back whatever happens.
    void RunJob(const std::function<void(const std::vector<std::wstring>&)>& body);
    // How many device runners a job over this many targets has (at least one).
    std::size_t RunnerCount(std::size_t targetCount);
    // Builds the tables of every runner beyond the first, which uses the controller's own.
    void PrepareExtraRunners(std::size_t runners, bool withUpdatePlan);
    // Calls run (runner index, target) for every target, on as many runners as the setting
    // allows; runner 0 works with the controller's own tables. Returns when all have ended.
    void RunTargets(const std::vector<std::wstring>& targets,
                    const std::function<void(std::size_t, const std::wstring&)>& run);
    CStateTable& TestStatesOf(std::size_t runner);
    CStateTable& UpdateStatesOf(std::size_t runner);
    void UpdateOneDevice(const std::wstring& target, const std::wstring& imageVersion,
                         std::size_t runner, CVersionConfirmation& confirmation);
    void TestDevice(const std::wstring& host, bool reportProgress, CStateTable& tests);
    // Runs the plan from start until the device ends, then confirms its new firmware; every
    // way out writes 100 or a negative code to the device's progress.
    void UpdateDevice(const std::wstring& host, const std::wstring& start,
                      CVersionConfirmation& confirmation, CStateTable& plan);
    // The code for a name that ends a device's run outside the plan: the result's own code for
    // a failure, "OtherError"'s for anything else.
    void ReportEnd(const std::wstring& name, const std::wstring& host);
    // The policy's decision, or the host's answer to the inquiry; empty when the job is being
    // stopped while it waits. One device asks at a time.
    std::wstring ResolveDowngrade(const std::wstring& host);
    bool Stopping() const;
    // Devices the stopped job left unfinished end with "TimeOut".
    void EndUnfinished(const std::vector<std::wstring>& targets);
    void SetPhase(const std::wstring& host, const std::wstring& phase);
    // Runs one state; an exception inside it ends the device's run as "OtherError".
    static std::wstring ExecuteGuarded(CState& state, const std::wstring& host);
    // The state stored under name in table, else in the end states, else the "OtherError" end
    // state; key receives the name the chosen state is stored under.
    CState& LookupState(CStateTable& table, const std::wstring& name, std::wstring& key);
    void ReportTestProgress(const std::wstring& name, const std::wstring& host);
    void ReportUpdateProgress(const std::wstring& name, const std::wstring& host);
    void BuildTestStates(CStateTable& table);
    bool BuildUpdatePlan();
    void BuildUpdatePlanInto(CStateTable& table);
    int HighestPartNumber();
    void AddPartState(CStateTable& table, const std::wstring& key, const std::wstring& next,
                      bool restartWait);

    CUpdateModelIF* model;
    CJobSettings settings;
    std::thread worker;
    CStateTable commonStates;
    CStateTable testStates;
    CStateTable updateStates;
    std::map<std::wstring, std::wstring> startPoints;
    std::map<std::wstring, std::wstring> progressCodes;
    CAutoResetEvent inquiryPending;
    CAutoResetEvent inquiryAnswered;
    std::wstring inquiryHost;
    std::wstring downgradePolicy;
    std::wstring inquiryAnswer;
    // Whether a device is asking the downgrade question; the others wait for their turn.
    std::mutex inquiryTurnLock;
    std::condition_variable inquiryTurnFree;
    bool inquiryAsking = false;
    // The tables of the runners beyond the first, made for each job.
    std::vector<std::unique_ptr<CRunnerStates>> extraRunners;
    // The highest part number of the plan, shown in the "upload N/M" phase.
    int highestPart = 0;
};

}  // namespace talbo::tesk::vorta
