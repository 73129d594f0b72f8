#include "tool/session/CRunSession.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <set>

#include "common/Utf8.h"
#include "common/VersionDecision.h"
#include "engine/interface/CUpdateControllerExport.h"
#include "engine/interface/CUpdateModelExport.h"
#include "engine/interface/CUpdateSettingsExport.h"
#include "engine/interface/ResultCodes.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/CarriedVersions.h"
#include "tool/app/ExitCodes.h"

namespace talbo::tesk::vorta {

namespace {

using SystemClock = std::chrono::system_clock;

constexpr auto kDefaultRetryInterval = std::chrono::seconds(60);

std::wstring ValueOf(CUpdateModelExport* model, const std::wstring& host, const wchar_t* key) {
    CDevInfoIF* info = model->GetDeviceInfo(host.c_str());
    const wchar_t* value = info != nullptr ? info->GetValue(key) : nullptr;
    return value != nullptr ? std::wstring(value) : std::wstring();
}

// A status a passed test reads from a device that can take its rewrite now: idle, or in the
// middle of an update to resume.
bool IsReadyStatus(const std::wstring& status) {
    if (status == L"Idle" || status == L"SelfUpdating") {
        return true;
    }
    return !status.empty() && std::all_of(status.begin(), status.end(),
                                          [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

bool RewritesFirmware(EDevicePlan plan) {
    return plan == EDevicePlan::Rewrite || plan == EDevicePlan::NewerRewritten ||
           plan == EDevicePlan::NewerAsked;
}

}  // namespace

std::wstring PlanText(EDevicePlan plan) {
    switch (plan) {
        case EDevicePlan::Rewrite:
            return L"would rewrite";
        case EDevicePlan::AlreadyCurrent:
            return L"already current, would leave alone";
        case EDevicePlan::NewerSkipped:
            return L"newer firmware, would skip";
        case EDevicePlan::NewerRewritten:
            return L"newer firmware, would rewrite (-d)";
        case EDevicePlan::NewerAsked:
            return L"newer firmware, would ask";
        case EDevicePlan::None:
            break;
    }
    return {};
}

std::chrono::milliseconds CRunSession::RetryInterval() {
    if (const char* text = std::getenv("VORTA_RETRY_BUSY_INTERVAL_MS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value > 0 && value <= 3600000) {
            return std::chrono::milliseconds(value);
        }
    }
    return kDefaultRetryInterval;
}

CRunSession::CRunSession(SEngine engine, EKind kind, std::wstring policy, std::wstring imageVersion,
                         SRolloutOptions options, SCallbacks callbacks)
    : engine(engine),
      kind(kind),
      policy(std::move(policy)),
      imageVersion(std::move(imageVersion)),
      options(std::move(options)),
      callbacks(std::move(callbacks)) {}

void CRunSession::TakeDevices(const std::vector<std::wstring>& hosts) {
    started = SteadyClock::now();
    for (const std::wstring& host : hosts) {
        SDevice device;
        device.report.host = host;
        devices.push_back(std::move(device));
    }
}

bool CRunSession::Start(const std::vector<std::wstring>& hosts) {
    TakeDevices(hosts);
    if (devices.empty()) {
        Finish();
        return false;
    }
    RememberTargets();
    std::vector<std::size_t> all(devices.size());
    std::iota(all.begin(), all.end(), std::size_t{0});
    if (kind == EKind::RewriteTested) {
        for (SDevice& device : devices) {
            device.report.start = SystemClock::now();
            device.report.testAttempts = 1;  // the page's test
            TestPassed(device);
            // Only a device that a test of this run found ready is evidence for a wave; the
            // others are rewritten too, after the tested ones, and count once their rewrite ran.
            device.tested = IsReadyStatus(device.status);
        }
        Advance();
        return stage != EStage::Done;
    }
    if (!StartTest(all)) {
        EndRemaining({kExitTestFailed, L"the communication test could not start"}, 0);
        Finish();
        return false;
    }
    return true;
}

void CRunSession::EndUnstarted(const std::vector<std::wstring>& hosts, const SRunOutcome& outcome) {
    TakeDevices(hosts);
    EndRemaining(outcome, 0);
    Finish();
}

void CRunSession::RememberTargets() {
    for (CHostNameIterator it = engine.model->GetHostNameIterator(); it.Current() != nullptr;
         it.Next()) {
        const std::wstring host = it.Current();
        if (ValueOf(engine.model, host, L"update") == L"true") {
            targetsBefore.push_back(host);
        }
    }
    targetsChanged = false;
}

void CRunSession::Finish() {
    stage = EStage::Done;
    if (!targetsChanged || !JobIdle()) {
        return;  // a job still running ends with the engine; its targets do not matter then
    }
    // The hosts' own check boxes follow the targets: give back those of the start.
    const std::set<std::wstring> before(targetsBefore.begin(), targetsBefore.end());
    for (CHostNameIterator it = engine.model->GetHostNameIterator(); it.Current() != nullptr;
         it.Next()) {
        static_cast<void>(
            engine.model->SetUpdateTarget(it.Current(), before.count(it.Current()) != 0));
    }
    targetsChanged = false;
}

bool CRunSession::JobIdle() const {
    return engine.settings == nullptr || engine.settings->GetJobState() == EJobState::Idle;
}

bool CRunSession::SetTargets(const std::vector<std::size_t>& indexes) {
    targetsChanged = true;
    std::set<std::wstring> chosen;
    for (const std::size_t index : indexes) {
        chosen.insert(devices[index].report.host);
    }
    bool ok = true;
    for (CHostNameIterator it = engine.model->GetHostNameIterator(); it.Current() != nullptr;
         it.Next()) {
        const wchar_t* host = it.Current();
        ok = engine.model->SetUpdateTarget(host, chosen.count(host) != 0) && ok;
    }
    return ok;
}

bool CRunSession::StartTest(const std::vector<std::size_t>& indexes) {
    if (!SetTargets(indexes) || !engine.controller->StartCommunicationTest()) {
        return false;
    }
    running = indexes;
    for (const std::size_t index : indexes) {
        SDevice& device = devices[index];
        device.inJob = true;
        ++device.report.testAttempts;
        if (!device.report.start) {
            device.report.start = SystemClock::now();
        }
    }
    stage = EStage::Testing;
    return true;
}

void CRunSession::Poll() {
    switch (stage) {
        case EStage::Testing:
            PollTest();
            break;
        case EStage::Rewriting:
            PollRewrite();
            break;
        case EStage::WaitingForBusy:
            PollBusy();
            break;
        case EStage::Ready:
        case EStage::NeedsImage:
        case EStage::Done:
            break;
    }
}

void CRunSession::PollTest() {
    std::erase_if(running, [this](std::size_t index) {
        SDevice& device = devices[index];
        const int progress = engine.model->GetProgress(device.report.host.c_str());
        device.inJob = !HasEnded(progress);
        if (IsSuccess(progress)) {
            device.busyWaiting = false;
            TestPassed(device);
            return true;
        }
        if (progress < 0) {
            TestFailed(device, progress);
            return true;
        }
        return false;
    });
    // The job gives the engine back a moment after its last device; the next job must come
    // after that.
    if (!running.empty() || !JobIdle()) {
        return;
    }
    if (kind == EKind::TestOnly) {
        Finish();
        return;
    }
    if (options.dryRun && !draining) {
        EndDryRun();
        return;
    }
    Advance();
}

void CRunSession::TestPassed(SDevice& device) {
    device.report.model = ValueOf(engine.model, device.report.host, L"modelname");
    device.report.versionBefore = ValueOf(engine.model, device.report.host, L"version");
    device.status = ValueOf(engine.model, device.report.host, L"accesstest");
    device.lastProgress = ToInt(EResultCode::Success);
    device.plan = PlanOf(device);
    device.tested = true;
    if (kind == EKind::TestOnly) {
        End(device, ClassifyEnd(EEndPhase::Test, device.lastProgress), device.lastProgress);
    }
}

void CRunSession::TestFailed(SDevice& device, int progress) {
    device.lastProgress = progress;
    if (IsBusyResult(progress) && RetriesBusy() && ScheduleRetry(device)) {
        return;
    }
    if (IsBusyResult(progress) && options.dryRun && options.retryBusyMinutes > 0) {
        // A real run would wait for it: the forecast's wave sizes count it, as the run's would.
        device.busyWaiting = true;
        return;
    }
    device.busyWaiting = false;
    End(device, ClassifyEnd(EEndPhase::Test, progress), progress);
}

bool CRunSession::RetriesBusy() const {
    return options.retryBusyMinutes > 0 && !options.dryRun && kind == EKind::TestAndRewrite &&
           !draining;
}

bool CRunSession::ScheduleRetry(SDevice& device) {
    const SteadyClock::time_point now = SteadyClock::now();
    if (!device.retryUntil) {
        device.retryUntil = now + std::chrono::minutes(options.retryBusyMinutes);
    }
    device.retryAt = now + RetryInterval();
    device.busyWaiting = device.retryAt <= *device.retryUntil;
    return device.busyWaiting;
}

EDevicePlan CRunSession::PlanOf(const SDevice& device) const {
    const std::wstring& version = device.report.versionBefore;
    if (common::CVersionDecision::IsAlreadyCurrent(policy, device.status, imageVersion, version)) {
        return EDevicePlan::AlreadyCurrent;
    }
    if (!common::CVersionDecision::IsDowngrade(device.status, imageVersion, version)) {
        return EDevicePlan::Rewrite;
    }
    if (policy == L"update") {
        return EDevicePlan::NewerRewritten;
    }
    return policy == L"inquiry" ? EDevicePlan::NewerAsked : EDevicePlan::NewerSkipped;
}

void CRunSession::PlanWaves() {
    if (wavesPlanned) {
        return;
    }
    wavesPlanned = true;
    const auto rewrites =
        static_cast<int>(std::count_if(devices.begin(), devices.end(), [](const SDevice& device) {
            return !device.ended && (device.busyWaiting || RewritesFirmware(device.plan));
        }));
    waveSizes = WaveSizes(options.waves, rewrites);
    if (waveSizes.empty()) {
        waveSizes.push_back(0);  // only devices the engine leaves alone: one job confirms it
    }
    failureLimit = FailureLimit(options, rewrites);
    currentWave = 1;
}

int CRunSession::WaveTarget(int wave) const {
    int target = 0;
    for (int i = 0; i < wave && i < static_cast<int>(waveSizes.size()); ++i) {
        target += waveSizes[static_cast<std::size_t>(i)];
    }
    return target;
}

std::vector<std::size_t> CRunSession::NextJobMembers() const {
    const bool lastWave = currentWave >= WavesPlanned();
    const int wanted =
        lastWave ? static_cast<int>(devices.size()) : WaveTarget(currentWave) - triedDevices;
    std::vector<std::size_t> members;
    std::vector<std::size_t> untested;
    int rewrites = 0;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SDevice& device = devices[i];
        if (device.ended || device.busyWaiting || device.sentInWave != 0 ||
            device.plan == EDevicePlan::None) {
            continue;
        }
        if (!RewritesFirmware(device.plan)) {
            // It costs the engine one look and tells nothing about the image.
            members.push_back(i);
        } else if (!device.tested) {
            untested.push_back(i);
        } else if (rewrites < wanted) {
            members.push_back(i);
            ++rewrites;
        }
    }
    // Devices no test of this run found ready come only when no tested one is left: a canary
    // must be a device that can take the image.
    for (const std::size_t index : untested) {
        if (rewrites >= wanted) {
            break;
        }
        members.push_back(index);
        ++rewrites;
    }
    std::sort(members.begin(), members.end());
    return members;
}

void CRunSession::Advance() {
    if (draining) {
        EndNotStarted();
        Finish();
        return;
    }
    const SteadyClock::time_point now = SteadyClock::now();
    std::vector<std::size_t> due;
    bool anyBusy = false;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SDevice& device = devices[i];
        if (!device.ended && device.busyWaiting) {
            anyBusy = true;
            if (now >= device.retryAt) {
                due.push_back(i);
            }
        }
    }
    if (!due.empty()) {
        if (!StartTest(due)) {
            for (const std::size_t index : due) {
                End(devices[index], ClassifyEnd(EEndPhase::Test, devices[index].lastProgress),
                    devices[index].lastProgress);
            }
            Advance();
        }
        return;
    }
    PlanWaves();
    // The gate: a wave's tried devices open the next one.
    while (currentWave < WavesPlanned() && triedDevices >= WaveTarget(currentWave)) {
        ++currentWave;
    }
    std::vector<std::size_t> members = NextJobMembers();
    if (!members.empty()) {
        StartJob(std::move(members));
        return;
    }
    if (anyBusy) {
        stage = EStage::WaitingForBusy;  // the wave waits for them, or they are the rest
    } else {
        Finish();
    }
}

void CRunSession::PollBusy() {
    const SteadyClock::time_point now = SteadyClock::now();
    if (std::any_of(devices.begin(), devices.end(), [now](const SDevice& device) {
            return !device.ended && device.busyWaiting && now >= device.retryAt;
        })) {
        Advance();
    }
}

void CRunSession::StartJob(std::vector<std::size_t> members) {
    if (!imageLoaded) {
        stage = EStage::NeedsImage;
        return;
    }
    if (engine.settings != nullptr) {
        const int allowed = failureLimit > 0 ? std::max(failureLimit - countedFailures, 1) : 0;
        static_cast<void>(engine.settings->SetStopAfterFailures(allowed));
    }
    if (callbacks.waveStarting) {
        callbacks.waveStarting(currentWave, WavesPlanned(), static_cast<int>(members.size()));
    }
    if (!SetTargets(members) || !engine.controller->StartUpdate(policy.c_str())) {
        EndRemaining({kExitRewriteFailed, L"the rewrite could not start"}, 0);
        Finish();
        return;
    }
    imageSent = true;
    for (const std::size_t index : members) {
        SDevice& device = devices[index];
        device.asked = false;
        device.answer.reset();
        device.inJob = true;
        device.sentInWave = currentWave;  // sent: not to be started again unless it was busy
    }
    running = std::move(members);
    stage = EStage::Rewriting;
}

void CRunSession::PollRewrite() {
    bool askedThisPoll = false;
    std::erase_if(running, [this, &askedThisPoll](std::size_t index) {
        SDevice& device = devices[index];
        const int progress = engine.model->GetProgress(device.report.host.c_str());
        if (IsAwaitingAnswer(progress)) {
            // The engine asks one question at a time; the front end is asked once per device,
            // and its answer is handed over again until the engine takes it.
            if (!device.asked && !askedThisPoll) {
                askedThisPoll = true;
                device.asked = true;
                device.answer =
                    callbacks.askDowngrade && callbacks.askDowngrade(device.report.host);
            }
            if (device.answer &&
                engine.controller->AnswerInquiry(*device.answer ? L"update" : L"skip")) {
                device.answer.reset();
            }
            return false;
        }
        if (!HasEnded(progress)) {
            return false;
        }
        device.inJob = false;
        EndedInRewrite(device, progress);
        return true;
    });
    if (!running.empty() || !JobIdle()) {
        return;
    }
    wavesRun = std::max(wavesRun, currentWave);
    if (engine.settings != nullptr && failureLimit > 0) {
        countedFailures += engine.settings->GetCountedFailures();
        const bool cut = std::any_of(devices.begin(), devices.end(), [](const SDevice& device) {
            return !device.ended || device.report.resultCode == ToInt(EResultCode::NotStarted);
        });
        if (countedFailures >= failureLimit && cut) {
            stoppedByRule = true;
            EndNotStarted();  // busy ones waiting for a retest too: none was started
            Finish();
            return;
        }
    }
    Advance();
}

void CRunSession::EndedInRewrite(SDevice& device, int progress) {
    device.lastProgress = progress;
    if (IsSuccess(progress)) {
        device.tried = true;
        device.report.versionAfter = ValueOf(engine.model, device.report.host, L"version");
    } else if (ValueOf(engine.model, device.report.host, L"failurecounted") == L"true") {
        device.tried = true;  // the engine counted it: its rewrite had begun
    } else if (IsBusyResult(progress) && RetriesBusy() && ScheduleRetry(device)) {
        // Refused before its update mode: it waits for its next test like a device that was
        // busy at the first one, and takes a place in a later job.
        device.sentInWave = 0;
        return;
    }
    if (device.tried) {
        ++triedDevices;
    }
    End(device, ClassifyEnd(EEndPhase::Rewrite, progress), progress);
}

bool CRunSession::LeftDevicesNotStarted() const {
    return std::any_of(devices.begin(), devices.end(), [](const SDevice& device) {
        return device.ended && device.report.resultCode == ToInt(EResultCode::NotStarted);
    });
}

int CRunSession::DevicesInProgress() const {
    // Read from the devices, not the running list: a drain may come from a question asked in
    // the middle of a poll that is changing that list.
    return static_cast<int>(std::count_if(devices.begin(), devices.end(), [this](const SDevice& d) {
        if (d.ended || !d.inJob) {
            return false;
        }
        // Started: the engine has given it a step; a target it has not reached has none.
        const int progress = engine.model->GetProgress(d.report.host.c_str());
        return (progress > 0 && !HasEnded(progress)) ||
               !ValueOf(engine.model, d.report.host, L"phase").empty();
    }));
}

int CRunSession::Drain() {
    if (stage == EStage::Done || draining) {
        return DevicesInProgress();
    }
    draining = true;
    for (SDevice& device : devices) {
        device.busyWaiting = device.busyWaiting && device.ended;  // no retest starts
    }
    if ((stage == EStage::Testing || stage == EStage::Rewriting) && engine.settings != nullptr) {
        // The engine ends every target it has not started "NotStarted" at once.
        static_cast<void>(engine.settings->StopStartingDevices());
        return DevicesInProgress();
    }
    if (stage != EStage::Testing && stage != EStage::Rewriting) {
        EndNotStarted();
        Finish();
    }
    return DevicesInProgress();
}

void CRunSession::EndNotStarted() {
    const int notStarted = ToInt(EResultCode::NotStarted);
    for (SDevice& device : devices) {
        if (!device.ended) {
            End(device, ClassifyEnd(EEndPhase::Rewrite, notStarted), notStarted);
        }
    }
}

void CRunSession::ImageLoaded(bool loaded) {
    if (!loaded) {
        ImageUnusable({kExitTestFailed, L"the update image could not be loaded"});
        return;
    }
    if (stage != EStage::NeedsImage) {
        return;
    }
    imageLoaded = true;
    Advance();
}

void CRunSession::ImageUnusable(const SRunOutcome& outcome) {
    if (stage != EStage::NeedsImage) {
        return;
    }
    EndRemaining(outcome, 0);
    Finish();
}

void CRunSession::ForecastWaves() {
    PlanWaves();
    int wave = 1;
    int filled = 0;
    for (SDevice& device : devices) {
        if (device.ended || device.plan == EDevicePlan::None) {
            continue;
        }
        if (!RewritesFirmware(device.plan)) {
            device.sentInWave = 1;  // looked at in the first job
            continue;
        }
        while (wave < WavesPlanned() && filled >= waveSizes[static_cast<std::size_t>(wave - 1)]) {
            ++wave;
            filled = 0;
        }
        device.sentInWave = wave;
        ++filled;
    }
}

void CRunSession::EndDryRun() {
    ForecastWaves();
    for (SDevice& device : devices) {
        if (device.ended) {
            continue;
        }
        if (device.busyWaiting) {
            SRunOutcome outcome = ClassifyEnd(EEndPhase::Test, device.lastProgress);
            outcome.detail += L" (busy now: a run would test it again for up to " +
                              std::to_wstring(options.retryBusyMinutes) + L" minutes)";
            End(device, std::move(outcome), device.lastProgress);
        } else {
            End(device, {kExitRewritten, PlanText(device.plan)}, device.lastProgress);
        }
    }
    Finish();
}

void CRunSession::Interrupt(const SRunOutcome& outcome) {
    if (stage == EStage::Done) {
        return;
    }
    if ((stage == EStage::Testing || stage == EStage::Rewriting) && engine.settings != nullptr) {
        static_cast<void>(engine.settings->StopStartingDevices());
    }
    EndRemaining(outcome, 0);
    Finish();
}

void CRunSession::EndRemaining(const SRunOutcome& outcome, int resultCode) {
    for (SDevice& device : devices) {
        if (!device.ended) {
            End(device, outcome, resultCode);
        }
    }
}

void CRunSession::End(SDevice& device, SRunOutcome outcome, int resultCode) {
    device.ended = true;
    device.busyWaiting = false;
    device.report.outcome = outcome.exitCode;
    device.report.resultCode = resultCode;
    device.report.result = std::move(outcome.detail);
    device.report.end = SystemClock::now();
    if (device.sentInWave != 0) {
        device.report.wave = device.sentInWave;
    }
    if (callbacks.deviceEnded) {
        callbacks.deviceEnded(device);
    }
}

std::vector<SDeviceReport> CRunSession::Reports() const {
    std::vector<SDeviceReport> reports;
    reports.reserve(devices.size());
    for (const SDevice& device : devices) {
        reports.push_back(device.report);
    }
    return reports;
}

int CRunSession::ExitCode() const {
    if (devices.empty()) {
        return kExitTestFailed;
    }
    if (options.dryRun) {
        const bool allPassed = std::all_of(devices.begin(), devices.end(), [](const SDevice& d) {
            return d.ended && d.report.outcome == kExitRewritten;
        });
        return allPassed ? kExitRewritten : kExitTestFailed;
    }
    int worst = devices.front().ended ? devices.front().report.outcome : kExitRewriteFailed;
    for (const SDevice& device : devices) {
        const int code = device.ended ? device.report.outcome : kExitRewriteFailed;
        if (ExitSeverity(code) > ExitSeverity(worst)) {
            worst = code;
        }
    }
    return worst;
}

SRunSummary CRunSession::Summary() const {
    SRunSummary summary;
    summary.devices = static_cast<int>(devices.size());
    for (const SDevice& device : devices) {
        switch (device.report.outcome) {
            case kExitRewritten:
                ++summary.rewritten;
                break;
            case kExitSameVersion:
                ++summary.sameVersion;
                break;
            case kExitNewerSkipped:
                ++summary.newerSkipped;
                break;
            case kExitTestFailed:
                ++summary.testFailed;
                break;
            case kExitStartupFailed:
                ++summary.startupFailed;
                break;
            default:
                ++summary.rewriteFailed;
                break;
        }
    }
    summary.wavesPlanned = options.dryRun || wavesPlanned ? WavesPlanned() : 0;
    summary.wavesRun = wavesRun;
    summary.stopped = stoppedByRule || (draining && LeftDevicesNotStarted());
    summary.elapsedSeconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    summary.toolVersion = common::BytesToWide(ToolVersion());
    summary.imageVersion = imageVersion;
    summary.imageSha256 = CarriedImageSha256();
    summary.dryRun = options.dryRun;
    summary.exitCode = ExitCode();
    return summary;
}

}  // namespace talbo::tesk::vorta
