#include "tool/session/RunOutcome.h"

#include "engine/interface/ResultCodes.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/ExitCodes.h"

namespace talbo::tesk::vorta {

namespace {

constexpr int kAnyCode = 0;  // no result code is 0

struct SOutcomeRule {
    EEndPhase phase;
    int progress;  // kAnyCode: every value not matched by an earlier row of the phase
    int exitCode;
    const wchar_t* textKey;  // nullptr: the result text of the value
};

// First match wins. Busy devices end like any other in their phase; IsBusyResult tells them
// apart for the retries, and the engine never counts them as failures.
constexpr SOutcomeRule kOutcomeRules[] = {
    {EEndPhase::Test, ToInt(EResultCode::Success), kExitRewritten, L"STR-001"},
    // A drained retest never reached the device: not started, like a device of a later wave.
    {EEndPhase::Test, ToInt(EResultCode::NotStarted), kExitRewriteFailed, nullptr},
    {EEndPhase::Test, kAnyCode, kExitTestFailed, nullptr},
    {EEndPhase::Rewrite, ToInt(EResultCode::Success), kExitRewritten, L"STR-001"},
    {EEndPhase::Rewrite, ToInt(EResultCode::SameVersion), kExitSameVersion, L"STR-002"},
    {EEndPhase::Rewrite, ToInt(EResultCode::UpdateSkip), kExitNewerSkipped, L"STR-003"},
    // Never touched because the rollout stopped: not rewritten, so scripts see a failure.
    {EEndPhase::Rewrite, kAnyCode, kExitRewriteFailed, nullptr},
};

}  // namespace

SRunOutcome ClassifyEnd(EEndPhase phase, int progress) {
    CUIStringTable& table = CUIStringTable::GetInstance();
    for (const SOutcomeRule& rule : kOutcomeRules) {
        if (rule.phase == phase && (rule.progress == kAnyCode || rule.progress == progress)) {
            return {rule.exitCode, rule.textKey != nullptr ? table.GetText(rule.textKey)
                                                           : table.GetResultText(progress)};
        }
    }
    return {kExitRewriteFailed, table.GetResultText(progress)};
}

SRunOutcome InterruptedOutcome() {
    return {kExitRewriteFailed, CUIStringTable::GetInstance().GetText(L"STR-301")};
}

}  // namespace talbo::tesk::vorta
