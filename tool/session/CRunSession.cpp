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
    waveOf.assign(devices.size(), 0);
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
        }
        PlanWaves();
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
    if (options.dryRun) {
        EndDryRun();
        return;
    }
    PlanWaves();
    Advance();
}

void CRunSession::TestPassed(SDevice& device) {
    device.report.model = ValueOf(engine.model, device.report.host, L"modelname");
    device.report.versionBefore = ValueOf(engine.model, device.report.host, L"version");
    device.status = ValueOf(engine.model, device.report.host, L"accesstest");
    device.lastProgress = ToInt(EResultCode::Success);
    device.plan = PlanOf(device);
    if (kind == EKind::TestOnly) {
        End(device, ClassifyEnd(EEndPhase::Test, device.lastProgress), device.lastProgress);
    }
}

void CRunSession::TestFailed(SDevice& device, int progress) {
    device.lastProgress = progress;
    const bool retries =
        options.retryBusyMinutes > 0 && !options.dryRun && kind == EKind::TestAndRewrite;
    if (retries && IsBusyResult(progress)) {
        const SteadyClock::time_point now = SteadyClock::now();
        if (!device.busyWaiting && device.report.testAttempts == 1) {
            device.retryUntil = now + std::chrono::minutes(options.retryBusyMinutes);
        }
        device.retryAt = now + RetryInterval();
        if (device.retryAt <= device.retryUntil) {
            device.busyWaiting = true;
            return;
        }
    }
    device.busyWaiting = false;
    End(device, ClassifyEnd(EEndPhase::Test, progress), progress);
}

EDevicePlan CRunSession::PlanOf(const SDevice& device) const {
    const std::wstring& version = device.report.versionBefore;
    if (common::CVersionDecision::IsAlreadyCurrent(policy, device.status, imageVersion, version)) {
        return EDevicePlan::AlreadyCurrent;
    }
    if (!common::CVersionDecision::IsDeviceNewer(imageVersion, version)) {
        return EDevicePlan::Rewrite;
    }
    if (policy == L"update") {
        return EDevicePlan::NewerRewritten;
    }
    return policy == L"inquiry" ? EDevicePlan::NewerAsked : EDevicePlan::NewerSkipped;
}

void CRunSession::PlanWaves() {
    std::vector<std::size_t> waiting;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SDevice& device = devices[i];
        if (!device.ended && !device.busyWaiting && device.plan != EDevicePlan::None &&
            waveOf[i] == 0) {
            waiting.push_back(i);
        }
    }
    if (waiting.empty()) {
        return;
    }
    if (wavesPlanned) {
        // Devices that were busy at first join the next wave, or run after the last one.
        const int wave = std::min(currentWave + 1, std::max(WavesPlanned(), 1));
        for (const std::size_t index : waiting) {
            waveOf[index] = wave;
        }
        return;
    }
    wavesPlanned = true;
    const auto rewrites =
        static_cast<int>(std::count_if(waiting.begin(), waiting.end(), [this](std::size_t index) {
            return RewritesFirmware(devices[index].plan);
        }));
    waveSizes = WaveSizes(options.waves, rewrites);
    if (waveSizes.empty()) {
        waveSizes.push_back(0);  // only devices the engine leaves alone: one job confirms it
    }
    failureLimit = FailureLimit(options, rewrites);
    std::size_t wave = 0;
    int filled = 0;
    for (const std::size_t index : waiting) {
        if (!RewritesFirmware(devices[index].plan)) {
            // It costs the engine one look and tells nothing about the image: the first wave.
            waveOf[index] = 1;
            continue;
        }
        while (wave + 1 < waveSizes.size() && filled >= waveSizes[wave]) {
            ++wave;
            filled = 0;
        }
        waveOf[index] = static_cast<int>(wave) + 1;
        ++filled;
    }
}

void CRunSession::Advance() {
    const SteadyClock::time_point now = SteadyClock::now();
    std::vector<std::size_t> due;
    std::optional<int> nextWave;
    bool anyBusy = false;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SDevice& device = devices[i];
        if (device.ended) {
            continue;
        }
        if (device.busyWaiting) {
            anyBusy = true;
            if (now >= device.retryAt) {
                due.push_back(i);
            }
        } else if (waveOf[i] > 0) {
            nextWave = std::min(nextWave.value_or(waveOf[i]), waveOf[i]);
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
    if (nextWave) {
        currentWave = *nextWave;
        StartWave();
        return;
    }
    if (anyBusy) {
        stage = EStage::WaitingForBusy;
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

void CRunSession::StartWave() {
    if (!imageLoaded) {
        stage = EStage::NeedsImage;
        return;
    }
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (!devices[i].ended && !devices[i].busyWaiting && waveOf[i] == currentWave) {
            members.push_back(i);
        }
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
    running = members;
    for (const std::size_t index : members) {
        devices[index].asked = false;
        waveOf[index] = -waveOf[index];  // sent: not to be started again
    }
    stage = EStage::Rewriting;
}

void CRunSession::PollRewrite() {
    bool askedThisPoll = false;
    std::erase_if(running, [this, &askedThisPoll](std::size_t index) {
        SDevice& device = devices[index];
        const int progress = engine.model->GetProgress(device.report.host.c_str());
        if (IsAwaitingAnswer(progress)) {
            // The engine asks one question at a time; a device answered already waits for its
            // progress to move on.
            if (!askedThisPoll && !device.asked) {
                askedThisPoll = true;
                device.asked = true;
                const bool rewrite =
                    callbacks.askDowngrade && callbacks.askDowngrade(device.report.host);
                static_cast<void>(engine.controller->AnswerInquiry(rewrite ? L"update" : L"skip"));
            }
            return false;
        }
        device.asked = false;
        if (!HasEnded(progress)) {
            return false;
        }
        if (IsSuccess(progress)) {
            device.report.versionAfter = ValueOf(engine.model, device.report.host, L"version");
        }
        End(device, ClassifyEnd(EEndPhase::Rewrite, progress), progress);
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
            for (SDevice& device : devices) {
                if (device.ended) {
                    continue;
                }
                if (device.busyWaiting) {
                    End(device, ClassifyEnd(EEndPhase::Test, device.lastProgress),
                        device.lastProgress);
                } else {
                    const int notStarted = ToInt(EResultCode::NotStarted);
                    End(device, ClassifyEnd(EEndPhase::Rewrite, notStarted), notStarted);
                }
            }
            Finish();
            return;
        }
    }
    PlanWaves();
    Advance();
}

void CRunSession::ImageLoaded(bool loaded) {
    if (stage != EStage::NeedsImage) {
        return;
    }
    imageLoaded = loaded;
    if (!loaded) {
        EndRemaining({kExitTestFailed, L"the update image could not be loaded"}, 0);
        Finish();
        return;
    }
    StartWave();
}

void CRunSession::EndDryRun() {
    PlanWaves();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        SDevice& device = devices[i];
        if (!device.ended) {
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
    const auto index = static_cast<std::size_t>(&device - devices.data());
    device.ended = true;
    device.busyWaiting = false;
    device.report.outcome = outcome.exitCode;
    device.report.resultCode = resultCode;
    device.report.result = std::move(outcome.detail);
    device.report.end = SystemClock::now();
    if (waveOf[index] != 0) {
        device.report.wave = std::abs(waveOf[index]);
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
            default:
                ++summary.rewriteFailed;
                break;
        }
    }
    summary.wavesPlanned = options.dryRun || wavesPlanned ? WavesPlanned() : 0;
    summary.wavesRun = wavesRun;
    summary.stopped = stoppedByRule;
    summary.elapsedSeconds = std::chrono::duration<double>(SteadyClock::now() - started).count();
    summary.toolVersion = common::BytesToWide(ToolVersion());
    summary.imageVersion = imageVersion;
    summary.imageSha256 = CarriedImageSha256();
    summary.dryRun = options.dryRun;
    summary.exitCode = ExitCode();
    return summary;
}

}  // namespace talbo::tesk::vorta
