#include "engine/jobs/CUpdateController.h"

#include <algorithm>
#include <cwchar>
#include <optional>

#include "common/VersionDecision.h"
#include "engine/interface/ResultCodes.h"
#include "engine/jobs/CChangeModeState.h"
#include "engine/jobs/CCommunicationTestReceive.h"
#include "engine/jobs/CCommunicationTestSend.h"
#include "engine/jobs/CConnectState.h"
#include "engine/jobs/CSimpleState.h"
#include "engine/jobs/CUpdateState.h"
#include "engine/jobs/CVersionConfirmation.h"
#include "engine/jobs/ResultNames.h"
#include "engine/model/CDeviceTrace.h"
#include "engine/model/CStopSignal.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/model/DecimalText.h"

namespace talbo::tesk::vorta {

namespace {

constexpr const wchar_t* kEndStateNames[] = {
    L"NormalEnd",         L"AnotherUpdating",    L"TimeOut",
    L"NotCorrespond",     L"SameVersion",        L"Print",
    L"WebConfig",         L"WebContents",        L"WebContentsUpdater",
    L"Utility",           L"StatusPrint",        L"Initialization",
    L"ServerDirectPrint", L"StatusNotification", L"HIDNotification",
    L"OtherError",
};

// Statuses (and the test's failure) that a run starts from under their own name, which ends it
// with that result at once.
constexpr const wchar_t* kSelfStartPoints[] = {
    L"SameVersion",       L"AnotherUpdating",    L"Print",
    L"WebConfig",         L"WebContents",        L"WebContentsUpdater",
    L"Utility",           L"StatusPrint",        L"Initialization",
    L"ServerDirectPrint", L"StatusNotification", L"HIDNotification",
    L"TimeOut",
};

// The plan's row that switches an idle device into its update mode.
constexpr const wchar_t* kFirstChangeModeRow = L"1";

constexpr const wchar_t* kConnectTest = L"ConnectCommunicationTest";
constexpr const wchar_t* kSendTest = L"CommunicationTestSend";
constexpr const wchar_t* kReceiveTest = L"CommunicationTestReceive";

// The unsigned decimal number at the start of a text; 0 when it has none.
unsigned long LeadingNumber(const std::wstring& text) {
    unsigned long value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            break;
        }
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    return value;
}

}  // namespace

CUpdateController::CUpdateController(CUpdateModelIF* model)
    : model(model), frame(model), settings(model, frame, inquiry) {
    for (const wchar_t* name : kEndStateNames) {
        commonStates[name] = std::make_unique<CSimpleState>(kResultIdle);
    }
    BuildTestStates(testStates);

    startPoints[L"Idle"] = kFirstChangeModeRow;
    startPoints[L"SelfUpdating"] = kFirstChangeModeRow;
    for (const wchar_t* name : kSelfStartPoints) {
        startPoints[name] = name;
    }
    for (const wchar_t* name :
         {L"SchemaError", L"ModelNameFailed", L"VersionFailed", L"StatusFailed", L"OtherError"}) {
        startPoints[name] = kResultOtherError;
    }
    for (const wchar_t* part : {L"2", L"3", L"4"}) {
        startPoints[part] = L"2";
    }
    startPoints[L"5"] = L"5";
    for (const wchar_t* part : {L"6", L"7", L"8", L"9", L"10"}) {
        startPoints[part] = L"6";
    }
    progressCodes[kResultIdle] = L"0";
    for (const SResultName& entry : kResultNames) {
        progressCodes[entry.name] = std::to_wstring(ToInt(entry.code));
    }
}

CUpdateController::~CUpdateController() {
    // The worker uses the tables below; it must be gone before they are.
    frame.StopAndJoin();
}

void CUpdateController::BuildTestStates(CStateTable& table) {
    table[kConnectTest] = std::make_unique<CConnectState>(model, kSendTest);
    table[kSendTest] = std::make_unique<CCommunicationTestSend>(model, kReceiveTest);
    table[kReceiveTest] = std::make_unique<CCommunicationTestReceive>(model, kResultNormalEnd);
}

void CUpdateController::SetPhase(const std::wstring& host, const std::wstring& phase) {
    model->SetDeviceValue(host, L"phase", phase);
}

void CUpdateController::EndUnfinished(const std::vector<std::wstring>& targets) {
    for (const std::wstring& target : targets) {
        const std::wstring progress = model->GetDeviceValue(target, L"progress");
        const long value = std::wcstol(progress.c_str(), nullptr, 10);
        if (value >= 0 && !IsSuccess(static_cast<int>(value))) {
            ReportUpdateProgress(kResultTimeOut, target);
        }
        SetPhase(target, L"");
    }
}

void CUpdateController::EndNotStarted(const std::wstring& host) {
    ReportUpdateProgress(kResultNotStarted, host);
    SetPhase(host, L"");
}

std::vector<std::wstring> CUpdateController::CollectTargets() {
    std::vector<std::wstring> hosts;
    model->GetHostNameList(hosts);
    std::vector<std::wstring> targets;
    for (std::wstring& host : hosts) {
        if (model->GetDeviceValue(host, L"update") == L"true") {
            targets.push_back(std::move(host));
        }
    }
    return targets;
}

bool CUpdateController::PrepareTargets() {
    const std::vector<std::wstring> targets = CollectTargets();
    if (targets.empty()) {
        return false;
    }
    for (const std::wstring& target : targets) {
        model->SetDeviceValue(target, L"progress", L"0");
        SetPhase(target, L"");
        model->SetDeviceValue(target, L"failurecounted", L"");
    }
    return true;
}

bool CUpdateController::StartCommunicationTest() {
    return frame.Start(
        EJobState::Testing, [this] { return PrepareTargets(); }, [this] { TestJob(); });
}

bool CUpdateController::StartUpdate(const wchar_t* policy) {
    if (policy == nullptr) {
        return false;
    }
    const std::wstring chosen(policy);
    if (chosen != L"skip" && chosen != L"update" && chosen != L"inquiry") {
        return false;
    }
    // The plan is built here, on the host's thread, while the token keeps workers away.
    return frame.Start(
        EJobState::Updating,
        [this, &chosen] {
            if (!BuildUpdatePlan()) {
                return false;
            }
            downgradePolicy = chosen;
            frame.SetFailureLimit(settings.GetStopAfterFailures());
            return PrepareTargets();
        },
        [this] { UpdateJob(); });
}

bool CUpdateController::AnswerInquiry(const wchar_t* answer) {
    try {
        return inquiry.Answer(answer, [this](const std::wstring& host) {
            model->SetDeviceValue(host, L"progress", L"0");
        });
    } catch (...) {
        return false;
    }
}

CStateTable& CUpdateController::TestStatesOf(std::size_t runner) {
    return runner == 0 ? testStates : extraRunners.at(runner - 1)->testStates;
}

CStateTable& CUpdateController::UpdateStatesOf(std::size_t runner) {
    return runner == 0 ? updateStates : extraRunners.at(runner - 1)->updateStates;
}

std::size_t CUpdateController::RunnerCount(std::size_t targetCount) {
    const auto setting = static_cast<std::size_t>(std::max(1, settings.GetDevicesAtATime()));
    return std::max<std::size_t>(1, std::min(targetCount, setting));
}

void CUpdateController::PrepareExtraRunners(std::size_t runners, bool withUpdatePlan) {
    extraRunners.clear();
    for (std::size_t index = 1; index < runners; ++index) {
        CRunnerStates& states = *extraRunners.emplace_back(std::make_unique<CRunnerStates>());
        BuildTestStates(states.testStates);
        if (withUpdatePlan) {
            BuildUpdatePlanInto(states.updateStates);
        }
    }
}

void CUpdateController::TestJob() {
    const std::vector<std::wstring> targets = CollectTargets();
    const std::size_t runners = RunnerCount(targets.size());
    PrepareExtraRunners(runners, false);
    frame.RunTargets(
        targets, runners,
        [this](std::size_t runner, const std::wstring& target) {
            TestDevice(target, true, TestStatesOf(runner));
            SetPhase(target, L"");
        },
        [this](const std::wstring& target) { EndNotStarted(target); });
    if (Stopping()) {
        EndUnfinished(targets);
    }
}

void CUpdateController::UpdateJob() {
    const std::vector<std::wstring> targets = CollectTargets();
    const CUpdateImagePart* backup = model->FindImagePart(L"BackupSettingValue");
    const std::wstring imageVersion = backup != nullptr ? backup->GetAfterVersion() : L"";
    const std::size_t runners = RunnerCount(targets.size());
    PrepareExtraRunners(runners, true);
    // One confirmation per runner: its states keep data of the device they read.
    std::vector<std::unique_ptr<CVersionConfirmation>> confirmations;
    for (std::size_t index = 0; index < runners; ++index) {
        confirmations.push_back(std::make_unique<CVersionConfirmation>(model, imageVersion));
    }
    frame.RunTargets(
        targets, runners,
        [&](std::size_t runner, const std::wstring& target) {
            UpdateOneDevice(target, imageVersion, runner, *confirmations.at(runner));
        },
        [this](const std::wstring& target) { EndNotStarted(target); });
    if (Stopping()) {
        EndUnfinished(targets);
    }
}

void CUpdateController::UpdateOneDevice(const std::wstring& target,
                                        const std::wstring& imageVersion, std::size_t runner,
                                        CVersionConfirmation& confirmation) {
    try {
        TestDevice(target, false, TestStatesOf(runner));
        const std::wstring status = model->GetDeviceValue(target, L"accesstest");
        const auto start = startPoints.find(status);
        const std::wstring startName =
            start != startPoints.end() ? start->second : kFirstChangeModeRow;
        model->SetDeviceValue(target, L"afterversion", imageVersion);
        const std::wstring version = model->GetDeviceValue(target, L"version");
        if (common::CVersionDecision::IsAlreadyCurrent(downgradePolicy, status, imageVersion,
                                                       version)) {
            ReportUpdateProgress(kResultSameVersion, target);
            SetPhase(target, L"");
            return;
        }
        // Only an idle device is asked or skipped: one with an unfinished update is resumed
        // whatever version it reports, and a busy or unreachable one ends with its own result.
        if (common::CVersionDecision::IsDowngrade(status, imageVersion, version)) {
            SetPhase(target, L"");
            const std::wstring decision = ResolveDowngrade(target);
            if (Stopping()) {
                return;
            }
            if (decision == L"skip") {
                ReportUpdateProgress(kResultUpdateSkip, target);
                return;
            }
        }
        static_cast<void>(UpdateDevice(target, startName, confirmation, UpdateStatesOf(runner)));
    } catch (...) {
        // Whatever broke, the device must not be left looking as if it were running.
        ReportUpdateProgress(kResultOtherError, target);
    }
    SetPhase(target, L"");
}

std::wstring CUpdateController::ExecuteGuarded(CState& state, const std::wstring& host) {
    try {
        return state.Execute(host);
    } catch (...) {
        return kResultOtherError;
    }
}

void CUpdateController::TestDevice(const std::wstring& host, bool reportProgress,
                                   CStateTable& tests) {
    SetPhase(host, L"test");
    std::wstring name = kConnectTest;
    std::wstring key;
    while (name != kResultIdle) {
        if (reportProgress) {
            ReportTestProgress(name, host);
        }
        CState& state = LookupState(tests, name, key);
        name = ExecuteGuarded(state, host);
    }
    if (key != kResultNormalEnd) {
        model->SetDeviceValue(host, L"accesstest",
                              startPoints.count(key) != 0 ? key : std::wstring(kResultOtherError));
    }
}

CUpdateController::EReach CUpdateController::UpdateDevice(const std::wstring& host,
                                                          const std::wstring& start,
                                                          CVersionConfirmation& confirmation,
                                                          CStateTable& plan) {
    std::map<std::wstring, int> rowStarts;
    std::wstring name = start;
    // The last row that started: the one whose result the run goes on with.
    std::wstring lastRow;
    const auto reach = [&] {
        if (lastRow.empty()) {
            return EReach::NotBegun;
        }
        // A device that accepted the first change mode is restarting into its update mode:
        // whatever it reports after the restart is a failure of the update.
        const bool restarted = model->GetDeviceValue(host, L"phase") == L"restart";
        return start == kFirstChangeModeRow && lastRow == kFirstChangeModeRow && !restarted
                   ? EReach::SwitchingMode
                   : EReach::UpdateMode;
    };
    while (!Stopping()) {
        const auto row = plan.find(name);
        if (row == plan.end()) {
            break;
        }
        if (++rowStarts[name] > kMaxRowStarts) {
            name = kResultOtherError;
            break;
        }
        ReportUpdateProgress(name, host);
        SetPhase(host, L"upload " + name + L"/" + std::to_wstring(highestPart));
        lastRow = name;
        name = ExecuteGuarded(*row->second, host);
    }
    if (Stopping()) {
        return reach();  // the stopped job ends the device
    }
    if (name == kResultNormalEnd) {
        // The last part went through; only the device can say whether it runs the new
        // firmware. Meanwhile its progress keeps the last part's value.
        SetPhase(host, L"confirm");
        name = ExecuteGuarded(confirmation, host);
        if (Stopping()) {
            return reach();
        }
        if (name == kResultNormalEnd) {
            ReportUpdateProgress(name, host);
            return reach();
        }
    }
    const EReach reached = reach();
    const std::wstring end = EndName(name);
    // Counted before the end shows: a host that sees the device's final progress finds the
    // flag already there.
    CountIfFailure(host, reached, end);
    ReportUpdateProgress(end, host);
    return reached;
}

void CUpdateController::CountIfFailure(const std::wstring& host, EReach reach,
                                       const std::wstring& endName) {
    // A device that failed once its rewrite began says something about the image or the
    // network. One refused before it, or refused as busy while it was still being switched
    // into its update mode, says nothing (it may be free a little later).
    const std::optional<EResultCode> code = ResultCodeOf(endName);
    const bool busyBeforeUpdateMode =
        reach == EReach::SwitchingMode && code && IsBusyResult(ToInt(*code));
    if (reach == EReach::NotBegun || busyBeforeUpdateMode) {
        return;
    }
    // The flag first: a host that reads the count finds every counted device flagged.
    model->SetDeviceValue(host, L"failurecounted", L"true");
    frame.CountFailure();
}

std::wstring CUpdateController::EndName(const std::wstring& name) {
    const std::optional<EResultCode> code = ResultCodeOf(name);
    const bool isFailure = code && ToInt(*code) < 0 && *code != EResultCode::DowngradeInquiry &&
                           *code != EResultCode::UpdateSkip;
    return isFailure ? name : std::wstring(kResultOtherError);
}

std::wstring CUpdateController::ResolveDowngrade(const std::wstring& host) {
    if (downgradePolicy != L"inquiry") {
        return downgradePolicy;
    }
    return inquiry.Ask(
        host, [this, &host] { ReportUpdateProgress(kResultDowngradeInquiry, host); },
        [this] { return Stopping(); });
}

CState& CUpdateController::LookupState(CStateTable& table, const std::wstring& name,
                                       std::wstring& key) {
    if (auto it = table.find(name); it != table.end()) {
        key = name;
        return *it->second;
    }
    if (auto it = commonStates.find(name); it != commonStates.end()) {
        key = name;
        return *it->second;
    }
    key = kResultOtherError;
    return *commonStates.at(kResultOtherError);
}

void CUpdateController::ReportTestProgress(const std::wstring& name, const std::wstring& host) {
    std::wstring value;
    if (name == kConnectTest) {
        value = L"20";
    } else if (name == kSendTest) {
        value = L"40";
    } else if (name == kReceiveTest) {
        value = L"60";
    } else {
        std::wstring q = name;
        if (q == kResultNormalEnd) {
            const std::wstring status = model->GetDeviceValue(host, L"accesstest");
            if (const auto start = startPoints.find(status); start != startPoints.end()) {
                q = start->second;
            }
            if (progressCodes.count(q) == 0) {
                q = kResultNormalEnd;
            }
        } else if (progressCodes.count(q) == 0) {
            q = kResultOtherError;
        }
        value = progressCodes.at(q);
        if (CDeviceTrace* trace = model->DeviceTrace(host)) {
            trace->NoteResult(q);
        }
    }
    model->SetDeviceValue(host, L"progress", value);
}

void CUpdateController::ReportUpdateProgress(const std::wstring& name, const std::wstring& host) {
    std::wstring value;
    if (const auto code = progressCodes.find(name); code != progressCodes.end()) {
        value = code->second;
    } else {
        const unsigned long rows = updateStates.size() + 1;
        value = std::to_wstring(LeadingNumber(name) * 100UL / rows);
    }
    model->SetDeviceValue(host, L"progress", value);
    if (CDeviceTrace* trace = model->DeviceTrace(host)) {
        trace->NoteResult(name);
    }
}

int CUpdateController::HighestPartNumber() {
    std::wstring highest = L"0";
    if (const CUpdateImagePartList* parts = model->GetImageParts()) {
        for (const auto& part : *parts) {
            const std::wstring number = part->GetNumber();
            if (number.size() > highest.size() ||
                (number.size() == highest.size() && !(number < highest))) {
                highest = number;
            }
        }
    }
    return static_cast<int>(std::wcstol(highest.c_str(), nullptr, 10));
}

void CUpdateController::AddPartState(CStateTable& table, const std::wstring& key,
                                     const std::wstring& next, bool restartWait) {
    const CUpdateImagePartList* parts = model->GetImageParts();
    std::vector<const CUpdateImagePart*> matching;
    if (parts != nullptr) {
        for (const auto& part : *parts) {
            if (part->GetNumber() == key) {
                matching.push_back(part.get());
            }
        }
    }
    if (matching.empty()) {
        table[key] = std::make_unique<CSimpleState>(next);
        return;
    }
    auto state = std::make_unique<CUpdateState>(model, next, restartWait);
    for (const CUpdateImagePart* part : matching) {
        state->AddImagePart(part);
    }
    table[key] = std::move(state);
}

bool CUpdateController::BuildUpdatePlan() {
    highestPart = HighestPartNumber();
    BuildUpdatePlanInto(updateStates);
    return !updateStates.empty();
}

void CUpdateController::BuildUpdatePlanInto(CStateTable& table) {
    table.clear();
    const int n = HighestPartNumber();
    for (int i = 3; i <= n; ++i) {
        if (i == 6) {
            continue;
        }
        const std::wstring next = i == n ? std::wstring(kResultNormalEnd) : std::to_wstring(i + 1);
        AddPartState(table, std::to_wstring(i), next, i == 5);
    }
    if (!table.empty()) {
        table[kFirstChangeModeRow] =
            std::make_unique<CChangeModeState>(model, L"2", L"BackupSettingValue", true);
        table[L"2"] = std::make_unique<CChangeModeState>(model, L"3", L"ReChangeMode", false);
        table[L"6"] = std::make_unique<CChangeModeState>(model, L"7", L"ReChangeMode", false);
    }
}

}  // namespace talbo::tesk::vorta
