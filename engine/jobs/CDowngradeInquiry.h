#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/jobs/CAutoResetEvent.h"

namespace talbo::tesk::vorta {

// The downgrade question of an update job: a device runner asks the host whether a device with
// newer firmware is rewritten ("update") or left alone ("skip"), and waits without time limit
// for the answer. One device asks at a time; other runners that want to ask wait for their turn
// while the rest of the job goes on. The handshake is two auto-reset events: the asking runner
// stores the host name, sets `pending`, only then shows the question, and waits for
// `answered`; Answer consumes `pending`, so one question accepts one answer, stores the answer
// and sets `answered`. The writes before each event operation are what make the two texts safe
// to share.
class CDowngradeInquiry {
public:
    // Worker side. Waits for this device's turn, opens the question, calls showAsking (which
    // makes it visible to the host, as progress -15), then waits for the answer: a host that
    // answers as soon as it sees -15 is never refused (its onAccepted may then run before
    // showAsking has returned). Returns "skip" or "update", or empty text when stopping()
    // turns true while it waits (checked at least every 100 ms), so that an unload never waits
    // for the host.
    std::wstring Ask(const std::wstring& host, const std::function<void()>& showAsking,
                     const std::function<bool()>& stopping);

    // Host side. Accepts an answer of exactly "skip" or "update" to the open question, once;
    // false for anything else, for null, or when no question is open. onAccepted (the host
    // name of the asking device) runs before the asking runner resumes.
    bool Answer(const wchar_t* answer,
                const std::function<void(const std::wstring& host)>& onAccepted);

    // Whether a device is waiting for its answer right now.
    bool IsOpen() const noexcept { return open.load(); }

private:
    // Waits until no other device asks; false when stopping() turned true first.
    bool TakeTurn(const std::function<bool()>& stopping);
    void GiveTurnBack();

    CAutoResetEvent pending;
    CAutoResetEvent answered;
    std::wstring askingHost;
    std::wstring answerText;
    std::atomic<bool> open{false};
    std::mutex turnLock;
    std::condition_variable turnFree;
    bool asking = false;
};

}  // namespace talbo::tesk::vorta
