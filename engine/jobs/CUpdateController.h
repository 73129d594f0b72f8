#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/interface/CUpdateControllerExport.h"
#include "engine/jobs/CAutoResetEvent.h"
#include "engine/jobs/CState.h"

namespace talbo::tesk::vorta {

class CUpdateModelIF;

// Runs the communication test and the firmware update over the target devices, one device
// after the other, on a detached worker thread per job. Reports only through device values.
class CUpdateController : public CUpdateControllerExport {
public:
    explicit CUpdateController(CUpdateModelIF* model);
    ~CUpdateController() override;

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
    void UpdateDevice(const std::wstring& host, const std::wstring& start);
    std::wstring ResolveDowngrade(const std::wstring& host);
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
