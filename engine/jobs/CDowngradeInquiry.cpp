#include "engine/jobs/CDowngradeInquiry.h"

#include <chrono>

namespace talbo::tesk::vorta {

namespace {

constexpr auto kStopCheckInterval = std::chrono::milliseconds(100);

}  // namespace

bool CDowngradeInquiry::TakeTurn(const std::function<bool()>& stopping) {
    std::unique_lock<std::mutex> turn(turnLock);
    while (asking) {
        if (stopping()) {
            return false;
        }
        turnFree.wait_for(turn, kStopCheckInterval);
    }
    asking = true;
    return true;
}

void CDowngradeInquiry::GiveTurnBack() {
    {
        const std::lock_guard<std::mutex> turn(turnLock);
        asking = false;
    }
    turnFree.notify_one();
}

std::wstring CDowngradeInquiry::Ask(const std::wstring& host,
                                    const std::function<void()>& showAsking,
                                    const std::function<bool()>& stopping) {
    if (!TakeTurn(stopping)) {
        return {};
    }
    struct CTurnRelease {
        CDowngradeInquiry& self;
        ~CTurnRelease() {
            self.open.store(false);
            self.GiveTurnBack();
        }
    } release{*this};
    // An answer that came too late for a stopped job must not answer this question.
    static_cast<void>(answered.TryConsume());
    askingHost = host;
    // Open before it shows: a host answers the moment it sees -15, and a refusal then would
    // leave the question unanswered for ever, since the host never asks a second time.
    pending.Set();
    open.store(true);
    showAsking();
    while (!answered.WaitFor(kStopCheckInterval)) {
        if (stopping()) {
            // An answer that arrives after this finds no open question.
            static_cast<void>(pending.TryConsume());
            return {};
        }
    }
    return answerText;
}

bool CDowngradeInquiry::Answer(const wchar_t* answer,
                               const std::function<void(const std::wstring& host)>& onAccepted) {
    if (answer == nullptr) {
        return false;
    }
    const std::wstring_view text(answer);
    if (text != L"skip" && text != L"update") {
        return false;
    }
    if (!pending.TryConsume()) {
        return false;
    }
    onAccepted(askingHost);
    answerText = text;
    open.store(false);
    answered.Set();
    return true;
}

}  // namespace talbo::tesk::vorta
