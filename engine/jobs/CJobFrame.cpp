#include "engine/jobs/CJobFrame.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>

#include "engine/model/CStopSignal.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/model/DecimalText.h"

namespace talbo::tesk::vorta {

namespace {

constexpr std::uint32_t kMaxEndDelayMs = 60000;

}  // namespace

CJobFrame::CJobFrame(CUpdateModelIF* model) : model(model) {
    if (const char* text = std::getenv("VORTA_JOB_END_DELAY_MS")) {
        endDelay = std::chrono::milliseconds(ReadPlainDecimal(text, kMaxEndDelayMs).value_or(0));
    }
}

CJobFrame::~CJobFrame() {
    StopAndJoin();
}

void CJobFrame::StopAndJoin() noexcept {
    model->JobStop().Raise();
    if (worker.joinable()) {
        worker.join();
    }
    pool.Shutdown();
}

bool CJobFrame::Stopping() const {
    return model->JobStop().Raised();
}

bool CJobFrame::Start(EJobState kind, const std::function<bool()>& prepare,
                      std::function<void()> body) {
    try {
        const std::lock_guard<std::mutex> guard(startLock);
        if (!model->TryBeginBusy()) {
            return false;
        }
        bool started = false;
        try {
            {
                const std::lock_guard<std::mutex> run(runLock);
                draining = false;
                targets = nullptr;
                failureLimit = 0;
                failures = 0;
            }
            if (prepare()) {
                model->ReleaseRetiredValues();
                // The previous worker gave the token back as its last step: it is ending.
                if (worker.joinable()) {
                    worker.join();
                }
                // No thread of any job runs now: the traces can change hands.
                model->BeginJobTrace(kind == EJobState::Testing ? L"test" : L"update");
                model->JobStop().Reset();
                state.store(kind);
                worker = std::thread([this, job = std::move(body)] {
                    try {
                        job();
                    } catch (...) {
                        // Nothing leaves the worker; the token goes back below in every case.
                    }
                    Finish();
                });
                started = true;
            }
        } catch (...) {
            // No thread, no job: the refusal below gives the token back.
            started = false;
        }
        if (!started) {
            state.store(EJobState::Idle);
            model->EndBusy();
        }
        return started;
    } catch (...) {
        return false;
    }
}

void CJobFrame::Finish() noexcept {
    // The job's runners are idle; give what they freed back to the system, or a host that runs
    // job after job (the wizard, a playbook) keeps the arenas' free space of its largest job.
    static_cast<void>(::malloc_trim(0));
    if (endDelay.count() > 0) {
        static_cast<void>(model->JobStop().SleepFor(endDelay));
    }
    try {
        const std::lock_guard<std::mutex> guard(startLock);
        model->EndBusy();
        state.store(EJobState::Idle);
    } catch (...) {
        // The lock cannot be had: the token must come back all the same, or no job could
        // ever start again.
        model->EndBusy();
        state.store(EJobState::Idle);
    }
}

bool CJobFrame::StopStarting() {
    if (state.load() == EJobState::Idle) {
        return false;
    }
    const std::lock_guard<std::mutex> guard(runLock);
    if (!draining) {
        DrainLocked();
    }
    return true;
}

void CJobFrame::SetFailureLimit(int limit) noexcept {
    const std::lock_guard<std::mutex> guard(runLock);
    failureLimit = limit > 0 ? limit : 0;
}

void CJobFrame::CountFailure() {
    const std::lock_guard<std::mutex> guard(runLock);
    ++failures;
    if (failureLimit > 0 && failures >= failureLimit && !draining) {
        DrainLocked();
    }
}

int CJobFrame::CountedFailures() const {
    const std::lock_guard<std::mutex> guard(runLock);
    return failures;
}

void CJobFrame::DrainLocked() {
    draining = true;
    if (targets == nullptr) {
        return;  // RunTargets ends them when it begins
    }
    for (; nextTarget < targets->size(); ++nextTarget) {
        if (endNotStarted) {
            endNotStarted((*targets)[nextTarget]);
        }
    }
}

std::optional<std::size_t> CJobFrame::TakeNext() {
    const std::lock_guard<std::mutex> guard(runLock);
    if (draining || Stopping() || targets == nullptr || nextTarget >= targets->size()) {
        return std::nullopt;
    }
    return nextTarget++;
}

void CJobFrame::RunTargets(const std::vector<std::wstring>& list, std::size_t runners,
                           const RunDevice& run, const EndNotStarted& notStarted) {
    {
        const std::lock_guard<std::mutex> guard(runLock);
        targets = &list;
        nextTarget = 0;
        endNotStarted = notStarted;
        if (draining) {
            DrainLocked();
        }
    }
    struct CForget {
        CJobFrame& self;
        ~CForget() {
            const std::lock_guard<std::mutex> guard(self.runLock);
            self.targets = nullptr;
            self.endNotStarted = nullptr;
        }
    } forget{*this};
    auto runner = [&](std::size_t index) {
        while (const std::optional<std::size_t> next = TakeNext()) {
            model->BeginDeviceTrace(list[*next]);
            run(index, list[*next]);
            model->EndDeviceTrace(list[*next], Stopping());
        }
    };
    pool.Run(std::max<std::size_t>(runners, 1), runner);
}

}  // namespace talbo::tesk::vorta
