#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/interface/CUpdateSettingsExport.h"
#include "engine/jobs/CRunnerPool.h"

namespace talbo::tesk::vorta {

class CUpdateModelIF;

// The frame every job of the controller runs in: the model's busy token, the one worker
// thread, the job's state, the device runners, the drain and the stop after failures. The
// controller fills in what a job does with each device; this class decides when a device may
// start and when the job has ended.
//
// Threads: Start, StopStarting, State and StopAndJoin are for the host's thread (the unload
// included); RunTargets, CountFailure and Stopping for the worker and its runners.
class CJobFrame {
public:
    using RunDevice = std::function<void(std::size_t runner, const std::wstring& target)>;
    using EndNotStarted = std::function<void(const std::wstring& target)>;

    // model: shared, not owned; it must outlive the frame. VORTA_JOB_END_DELAY_MS (a plain
    // decimal number of milliseconds, at most 60000) makes every worker wait that long after
    // its job's last device before it gives the token back, so that labs can check that their
    // host waits for the job state instead of guessing.
    explicit CJobFrame(CUpdateModelIF* model);
    // Stops and joins a running job (StopAndJoin).
    ~CJobFrame();

    CJobFrame(const CJobFrame&) = delete;
    CJobFrame& operator=(const CJobFrame&) = delete;

    // Takes the busy token without waiting and calls prepare while holding it; when prepare
    // agrees, frees the device texts lent before (the host copies them before it starts a job)
    // and runs body on a new worker thread, the job's state being kind from now on. When body
    // returns, or throws (which ends the job the same way), the worker gives the token back and
    // only then does the state become Idle, in one step against the next Start. False, with the
    // token given back and nothing started, when the model is busy, prepare refuses or throws,
    // or no thread can be made.
    bool Start(EJobState kind, const std::function<bool()>& prepare, std::function<void()> body);

    EJobState State() const noexcept { return state.load(); }

    // Drains the running job: no target of it starts any more, and every target not yet
    // started ends at once through the notStarted of RunTargets (also when the drain comes
    // before the worker reaches RunTargets). False when no job runs.
    bool StopStarting();

    // During the next job, the failures-th CountFailure drains it (0: never). Called by
    // prepare, while the token is held; every Start clears it before prepare.
    void SetFailureLimit(int failures) noexcept;

    // Raises the model's stop signal and joins the worker and the runners (the library is
    // being unloaded);
    // every wait of the job ends within a second.
    void StopAndJoin() noexcept;

    // Whether the job must end now because the library is being unloaded.
    bool Stopping() const;

    // Calls run (runner index, target) for every target in order, on as many runners as
    // asked (at least one), each between the start and the end of the target's trace (a
    // target never taken gets none): runner 0 is the calling thread, the others are the
    // frame's pool, kept from job to job. A target starts when a free runner takes it; after a
    // drain no runner takes one, and each target never taken is passed to notStarted at once
    // (on the draining thread, under the frame's lock, so no runner can start it meanwhile).
    // After the stop signal no target is taken either; those are left to the caller.
    void RunTargets(const std::vector<std::wstring>& targets, std::size_t runners,
                    const RunDevice& run, const EndNotStarted& notStarted);

    // A device of the running job ended in a failure that counts towards the limit.
    void CountFailure();
    // The failures counted in the running job, or in the last one once it has ended.
    int CountedFailures() const;

private:
    // The index of the next target to start, or none when the job is drained or stopped.
    std::optional<std::size_t> TakeNext();
    // Marks the job drained and ends its targets not yet taken; the caller holds runLock.
    void DrainLocked();
    // The worker's last step: the token back, then the state Idle.
    void Finish() noexcept;

    CUpdateModelIF* model;
    std::chrono::milliseconds endDelay{0};
    std::thread worker;
    CRunnerPool pool;
    // Held by Start from the token to the new state, and by Finish from the token to Idle, so
    // that a job that ends never turns the state of the next one to Idle.
    std::mutex startLock;
    std::atomic<EJobState> state{EJobState::Idle};

    // What the runners share; runLock guards all of it.
    mutable std::mutex runLock;
    bool draining = false;
    const std::vector<std::wstring>* targets = nullptr;  // of the RunTargets in progress
    std::size_t nextTarget = 0;
    EndNotStarted endNotStarted;
    int failureLimit = 0;
    int failures = 0;
};

}  // namespace talbo::tesk::vorta
