#pragma once

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/interface/CUpdateControllerExport.h"
#include "engine/jobs/CAutoResetEvent.h"
#include "engine/jobs/CState.h"

namespace talbo::tesk::vorta {

class CUpdateModelIF;

class CVersionConfirmation;

// Runs the communication test and the firmware update over the target devices, one device
// after the other, on a worker thread per job. Reports only through device values. The
// controller owns its worker: destroying it (the library being unloaded) raises the model's
// job stop signal and joins the worker, which leaves every wait and transfer within a second.
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

    // Whether the device's firmware is newer than the image's: the digits of both versions,
    // the shorter padded with '0', compared as text.
    static bool IsDeviceNewer(const std::wstring& imageVersion, const std::wstring& deviceVersion);

private:
    using Routine = void (*)(CUpdateController*);

    // Takes the busy token, runs start and gives the token back unless a job started.
    bool StartJob(const std::function<bool()>& start);
    std::vector<std::wstring> CollectTargets();
    bool StartWorker(Routine routine, const wchar_t* policy);
    static void TestThread(CUpdateController* controller);
    static void UpdateThread(CUpdateController* controller);
    void TestDevice(const std::wstring& host, bool reportProgress);
    // Runs the plan from start until the device ends, then confirms its new firmware; every
    // way out writes 100 or a negative code to the device's progress.
    void UpdateDevice(const std::wstring& host, const std::wstring& start,
                      CVersionConfirmation& confirmation);
    // The code for a name that ends a device's run outside the plan: the result's own code for
    // a failure, "OtherError"'s for anything else.
    void ReportEnd(const std::wstring& name, const std::wstring& host);
    // The policy's decision, or the host's answer to the inquiry; empty when the job is being
    // stopped while it waits.
    std::wstring ResolveDowngrade(const std::wstring& host);
    bool Stopping() const;
    // Devices the stopped job left unfinished end with "TimeOut".
    void EndUnfinished(const std::vector<std::wstring>& targets);
    // Runs one state; an exception inside it ends the device's run as "OtherError".
    static std::wstring ExecuteGuarded(CState& state, const std::wstring& host);
    // The state stored under name in table, else in the end states, else the "OtherError" end
    // state; key receives the name the chosen state is stored under.
    CState& LookupState(CStateTable& table, const std::wstring& name, std::wstring& key);
    void ReportTestProgress(const std::wstring& name, const std::wstring& host);
    void ReportUpdateProgress(const std::wstring& name, const std::wstring& host);
    bool BuildUpdatePlan();
    int HighestPartNumber();
    void AddPartState(const std::wstring& key, const std::wstring& next, bool restartWait);

    CUpdateModelIF* model;
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
};

}  // namespace talbo::tesk::vorta
