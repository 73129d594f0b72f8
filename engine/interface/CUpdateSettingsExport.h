#pragma once

namespace talbo::tesk::vorta {

// The most devices a job may work on at once.
inline constexpr int kMaxDevicesAtATime = 64;

// What the engine's job is doing, as GetJobState reports it.
enum class EJobState : int {
    // No job holds the model: the busy token is back, so a job start or a model change made now
    // is not refused for a running job.
    Idle = 0,
    Testing = 1,   // a communication test runs
    Updating = 2,  // an update job runs
    // An update job runs and a device waits for the answer to its downgrade question
    // (AnswerInquiry).
    AwaitingAnswer = 3,
};

// Settings and control of the engine's jobs as the host sees them. The slot order below is the
// binary contract with hosts; the object belongs to the library, like the model and the
// controller. Every operation may be called from the host's thread at any time and returns at
// once.
class CUpdateSettingsExport {
public:
    virtual ~CUpdateSettingsExport() = default;  // never called by the host

    // How many devices a job works on at once, 1 to 64 (1: one after the other, in
    // registration order). False, and nothing changed, while a job runs (or the model is
    // being changed) or for a value out of range.
    virtual bool SetDevicesAtATime(int devices) = 0;
    virtual int GetDevicesAtATime() = 0;

    // The state of the job; hosts wait for a job's end by polling this until it is Idle (the
    // devices' progress values are all final by then).
    virtual EJobState GetJobState() = 0;

    // Drains the running job: no further device of it starts; devices already started finish
    // their run exactly as they would have (none is cut off in the middle of its update); every
    // target never started ends with the result "NotStarted" at once. The job then ends as
    // usual. False when no job runs.
    virtual bool StopStartingDevices() = 0;

    // During an update job, the engine drains the job itself (as StopStartingDevices) at the
    // moment the n-th device ends in failure after its first change-mode or part request was
    // under way. Failed tests, busy, skipped, same-version and not-started devices do not count,
    // nor does a device that ends with a busy result (IsBusyResult) while it was being switched
    // into its update mode: its run began at the first change mode (it was idle or updating
    // itself) and failed before that change mode had succeeded. Once the device is in its
    // update mode (a later request, or a resumed unfinished update) every failure counts, busy
    // ones too. Each counted device gets the value "failurecounted" "true" (CDevInfoIF).
    // 0 (the default) never stops. False, and nothing changed, for a negative n or while a job
    // runs (or the model is being changed). The setting stays for later jobs.
    virtual bool SetStopAfterFailures(int failures) = 0;
    virtual int GetStopAfterFailures() = 0;

    // How many devices of the running job, or of the last one once it has ended, ended in a
    // failure that counts towards the stop setting (0 after a communication test). A host that
    // runs a rollout as several jobs adds these up and gives each job what is still allowed.
    virtual int GetCountedFailures() = 0;
};

}  // namespace talbo::tesk::vorta
