#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/interface/CUpdateControllerExport.h"
#include "engine/jobs/CDowngradeInquiry.h"
#include "engine/jobs/CJobFrame.h"
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
// runner. When the job starts devices, whether it may start one more, and when it has ended
// is the job frame's (CJobFrame); the downgrade question is CDowngradeInquiry's and whether a
// device's version lets it be left alone is CVersionDecision's. The controller owns its
// worker: destroying it (the library being unloaded) raises the model's job stop signal and
// joins the worker and its runners, which leave every wait and transfer within a second.
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

private:
    // The state tables one device runner works with.
    struct CRunnerStates {
        CStateTable testStates;
        CStateTable updateStates;
    };

    std::vector<std::wstring> CollectTargets();
    // On the host's thread, with the token held: the targets' progress reset to 0, their
    // phase and "failurecounted" emptied; false when there is no target.
    bool PrepareTargets();
    void TestJob();
    void UpdateJob();
    // How many device runners a job over this many targets has (at least one).
    std::size_t RunnerCount(std::size_t targetCount);
    // Builds the tables of every runner beyond the first, which uses the controller's own.
    void PrepareExtraRunners(std::size_t runners, bool withUpdatePlan);
    CStateTable& TestStatesOf(std::size_t runner);
    CStateTable& UpdateStatesOf(std::size_t runner);
    void UpdateOneDevice(const std::wstring& target, const std::wstring& imageVersion,
                         std::size_t runner, CVersionConfirmation& confirmation);
    void TestDevice(const std::wstring& host, bool reportProgress, CStateTable& tests);
    // How far a device's rewrite got, which decides whether its failure counts towards the
    // stop setting.
    enum class EReach {
        NotBegun,       // no row of the plan ran: nothing was asked of the device
        SwitchingMode,  // the run began at row "1" and ended while it ran, before the device
                        // accepted the switch into its update mode (no restart wait began)
        UpdateMode,     // a later row ran, or the run resumed an unfinished update
    };
    // Runs the plan from start until the device ends, then confirms its new firmware; every
    // way out but the stop signal writes 100 or a negative code to the device's progress.
    EReach UpdateDevice(const std::wstring& host, const std::wstring& start,
                        CVersionConfirmation& confirmation, CStateTable& plan);
    // The result a name that ends a device's run outside the plan reports: the name itself for
    // a failure, "OtherError" for anything else.
    static std::wstring EndName(const std::wstring& name);
    // Counts the device's failure towards the stop setting, and flags it ("failurecounted"),
    // unless its rewrite had not begun or it refused as busy before its update mode.
    void CountIfFailure(const std::wstring& host, EReach reach, const std::wstring& endName);
    // The policy's decision, or the host's answer to the inquiry; empty when the job is being
    // stopped while it waits.
    std::wstring ResolveDowngrade(const std::wstring& host);
    bool Stopping() const { return frame.Stopping(); }
    // Devices the stopped job left unfinished end with "TimeOut".
    void EndUnfinished(const std::vector<std::wstring>& targets);
    // A target the drained job never started.
    void EndNotStarted(const std::wstring& host);
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
    CJobFrame frame;
    CDowngradeInquiry inquiry;
    CJobSettings settings;
    CStateTable commonStates;
    CStateTable testStates;
    CStateTable updateStates;
    std::map<std::wstring, std::wstring> startPoints;
    std::map<std::wstring, std::wstring> progressCodes;
    std::wstring downgradePolicy;
    // The tables of the runners beyond the first, made for each job.
    std::vector<std::unique_ptr<CRunnerStates>> extraRunners;
    // The highest part number of the plan, shown in the "upload N/M" phase.
    int highestPart = 0;
};

}  // namespace talbo::tesk::vorta
