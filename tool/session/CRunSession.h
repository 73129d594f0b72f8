#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tool/session/DeviceReport.h"
#include "tool/session/RolloutOptions.h"
#include "tool/session/RunOutcome.h"

namespace talbo::tesk::vorta {

class CUpdateControllerExport;
class CUpdateModelExport;
class CUpdateSettingsExport;

// What a rollout does with a device once its test has passed, as the dry run tells it.
enum class EDevicePlan {
    None,            // not tested yet, or its test failed
    Rewrite,         // older firmware, or an unfinished update to resume
    AlreadyCurrent,  // idle and already at the image's version: left alone
    NewerSkipped,    // newer firmware, policy "skip"
    NewerRewritten,  // newer firmware, policy "update"
    NewerAsked,      // newer firmware, policy "inquiry": the front end is asked
};

// One run over a set of registered devices, shared by every front end: the single-device
// command line, the batch and the wizard's pages. It starts the engine's jobs, is polled every
// 250 ms by its front end, ends each device once with its outcome class and result text
// (RunOutcome), and runs the rollout rules on top:
// - waves: a wave of k devices means k devices that were really tried (rewritten, or ended in a
//   failure the engine counted). A device that could not be started (unreachable or busy at
//   the rewrite's own test), was already current or was skipped as newer is no evidence: its
//   place goes to the next device, in another job of the same wave if need be. The next wave
//   starts only when the current one has its tried devices (or no device is left) and the
//   failures are within the budget. Wave sizes and the budget are computed once, over every
//   device the rollout would rewrite, busy ones included;
// - the stop rule: the engine's stop setting gets the failures still allowed before each job,
//   so the stop is exact however many devices run at once;
// - busy devices (refusing before their update mode) are never failures; under the retry
//   option they are tested again every minute while the others go on;
// - a drain (the first stop signal, the wizard's stop button): no further device starts, the
//   devices in progress finish, and every device never started ends "not started".
// Without rollout options it runs one test job and one update job over every device that
// passed, as the command line always has.
//
// The session never blocks and owns no thread: the front end calls Poll, loads the image when
// the stage asks for it (on whatever thread it likes) and answers downgrade questions through
// its callback. Devices keep their registration order. The session sets the engine's targets for
// each of its jobs and gives back those of its start when it ends.
class CRunSession {
public:
    struct SEngine {
        CUpdateModelExport* model = nullptr;
        CUpdateControllerExport* controller = nullptr;
        CUpdateSettingsExport* settings = nullptr;  // nullptr: no rollout rules, no job state
    };

    enum class EKind {
        TestOnly,        // the communication test alone (the device page)
        TestAndRewrite,  // the command line: test, then rewrite those that passed
        RewriteTested,   // the update page: the devices were tested before
    };

    enum class EStage {
        Ready,           // Start not called yet
        Testing,         // a communication test runs (also a retest of busy devices)
        NeedsImage,      // the front end loads the image and calls ImageLoaded
        Rewriting,       // an update job (one wave) runs
        WaitingForBusy,  // only busy devices are left, waiting for their next test
        Done,
    };

    struct SDevice {
        SDeviceReport report;
        bool ended = false;
        EDevicePlan plan = EDevicePlan::None;
        std::wstring status;  // the status its last passed test read ("accesstest")
        // A test of this run found the device ready: only such devices fill a wave while any
        // is left (an update page's device may never have been tested, or have failed).
        bool tested = false;
        int lastProgress = 0;
        bool busyWaiting = false;
        std::chrono::steady_clock::time_point retryAt;
        std::optional<std::chrono::steady_clock::time_point> retryUntil;
        int sentInWave = 0;          // the wave of the update job it is in or was last in; 0: none
        bool inJob = false;          // a target of the running job (test or update), not ended
        bool tried = false;          // its rewrite really ran: rewritten, or a counted failure
        bool asked = false;          // its downgrade question went to the front end in this job
        std::optional<bool> answer;  // the front end's answer, until the engine accepts it
    };

    struct SCallbacks {
        // A device has ended; its report holds its outcome. Called once per device, in the
        // order the devices end.
        std::function<void(const SDevice&)> deviceEnded;
        // A device of policy "inquiry" runs newer firmware: true rewrites it.
        std::function<bool(const std::wstring& host)> askDowngrade;
        // A wave's update job is about to start (1-based wave, waves planned, its devices).
        std::function<void(int wave, int waves, int devices)> waveStarting;
    };

    // imageVersion is the version of the image the session would send (for its forecast of
    // what the engine decides); policy is "skip", "update" or "inquiry".
    CRunSession(SEngine engine, EKind kind, std::wstring policy, std::wstring imageVersion,
                SRolloutOptions options, SCallbacks callbacks);

    // Takes the devices (registered in the model, in this order) and starts the first job.
    // False when it could not start (no device, or the engine refused the job): every device
    // has then ended with the reason.
    bool Start(const std::vector<std::wstring>& hosts);
    // Takes the devices and ends each with this outcome at once, contacting none (a stop
    // before the run began).
    void EndUnstarted(const std::vector<std::wstring>& hosts, const SRunOutcome& outcome);
    // One round: reads the devices' progress, ends those that ended, starts the next job when
    // its time has come.
    void Poll();
    // The answer to the stage NeedsImage: loaded, or refused (every device then ends with
    // kExitTestFailed, none contacted beyond its test).
    void ImageLoaded(bool loaded);
    // The answer to the stage NeedsImage when the image must not go to any device: every
    // device ends with this outcome.
    void ImageUnusable(const SRunOutcome& outcome);
    // Stops starting devices: the running job is drained (the engine starts no further
    // device of it), no later wave or busy retest starts, the devices in progress finish and
    // the session then ends by itself, every device never started ending "not started" (class
    // kExitRewriteFailed). Returns how many devices are in progress now. A second call does
    // nothing more.
    int Drain();
    // Ends every device that has not ended with this outcome and drains a running job, so
    // that no further device starts (one already started goes on until the engine is stopped
    // or it has finished).
    void Interrupt(const SRunOutcome& outcome);

    EStage Stage() const { return stage; }
    bool IsDone() const { return stage == EStage::Done; }
    // An update job runs: stopping the process now would leave devices between two parts.
    bool IsRewriting() const { return stage == EStage::Rewriting; }
    const std::vector<SDevice>& Devices() const { return devices; }
    std::vector<SDeviceReport> Reports() const;
    // An update job was started (the image went to devices).
    bool ImageSent() const { return imageSent; }
    bool StoppedByRule() const { return stoppedByRule; }
    // Drain was called: the run stops starting devices.
    bool Draining() const { return draining; }
    // Devices of the running job that the engine has started and not yet ended.
    int DevicesInProgress() const;
    // Some device ended "not started" (a drain or the stop rule left it untouched).
    bool LeftDevicesNotStarted() const;
    int CountedFailures() const { return countedFailures; }
    int FailureLimitOf() const { return failureLimit; }
    int WavesPlanned() const { return static_cast<int>(waveSizes.size()); }
    int WavesRun() const { return wavesRun; }
    int CurrentWave() const { return currentWave; }
    // The most severe outcome class of the devices (-100 when there are none); a dry run gives
    // 0 when every device passed its test, else -100.
    int ExitCode() const;
    SRunSummary Summary() const;

    // How often a busy device is tested again (60 s; VORTA_RETRY_BUSY_INTERVAL_MS shortens it
    // for tests).
    static std::chrono::milliseconds RetryInterval();

private:
    using SteadyClock = std::chrono::steady_clock;

    // Registers the hosts as the session's devices, in this order.
    void TakeDevices(const std::vector<std::wstring>& hosts);
    void End(SDevice& device, SRunOutcome outcome, int resultCode);
    bool JobIdle() const;
    // Makes exactly these devices the targets of the next job.
    bool SetTargets(const std::vector<std::size_t>& indexes);
    bool StartTest(const std::vector<std::size_t>& indexes);
    void PollTest();
    void PollRewrite();
    void PollBusy();
    void TestPassed(SDevice& device);
    void TestFailed(SDevice& device, int progress);
    EDevicePlan PlanOf(const SDevice& device) const;
    // Fixes the wave sizes and the failure budget, once, over the devices the rollout would
    // rewrite (busy ones included).
    void PlanWaves();
    // After a job: a retest of busy devices, the next job of the current or the next wave, or
    // the end.
    void Advance();
    // The devices of the next update job: every candidate the engine will leave alone, and up
    // to what the current wave still needs of those it would rewrite, tested ones first.
    std::vector<std::size_t> NextJobMembers() const;
    void StartJob(std::vector<std::size_t> members);
    // A device ended by a job of this wave; busy ones may wait for a retest instead.
    void EndedInRewrite(SDevice& device, int progress);
    bool RetriesBusy() const;
    // Schedules the busy device's next test; false when its retry time is over.
    bool ScheduleRetry(SDevice& device);
    // Ends every device not yet ended as never started (a drain or the stop rule).
    void EndNotStarted();
    // The number of tried devices each wave needs before the next may start (cumulative).
    int WaveTarget(int wave) const;
    // The waves a dry run forecasts, if every device were tried.
    void ForecastWaves();
    void EndRemaining(const SRunOutcome& outcome, int resultCode);
    void EndDryRun();
    // The engine's targets at the start, given back at the end: hosts show them as check boxes.
    void RememberTargets();
    // The end of the session.
    void Finish();

    SEngine engine;
    EKind kind;
    std::wstring policy;
    std::wstring imageVersion;
    SRolloutOptions options;
    SCallbacks callbacks;
    std::vector<SDevice> devices;
    std::vector<std::size_t> running;  // the devices of the running job
    std::vector<int> waveSizes;
    EStage stage = EStage::Ready;
    bool imageLoaded = false;
    bool imageSent = false;
    bool stoppedByRule = false;
    bool wavesPlanned = false;
    bool draining = false;
    int failureLimit = 0;
    int countedFailures = 0;
    int triedDevices = 0;
    int wavesRun = 0;
    int currentWave = 0;
    SteadyClock::time_point started;
    std::vector<std::wstring> targetsBefore;
    bool targetsChanged = false;
};

// What a dry run says a device's plan is ("rewrite", "already current", ...).
std::wstring PlanText(EDevicePlan plan);

}  // namespace talbo::tesk::vorta
