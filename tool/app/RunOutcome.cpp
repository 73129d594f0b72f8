#include "tool/app/RunOutcome.h"

#include "engine/interface/ResultCodes.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/ExitCodes.h"

namespace talbo::tesk::vorta {

SRunOutcome TestFailedOutcome(int progress) {
    return {kExitTestFailed, CUIStringTable::GetInstance().GetResultText(progress)};
}

SRunOutcome RewriteOutcome(int progress) {
    CUIStringTable& table = CUIStringTable::GetInstance();
    switch (progress) {
        case ToInt(EResultCode::Success):
            return {kExitRewritten, table.GetText(L"STR-001")};
        case ToInt(EResultCode::SameVersion):
            return {kExitSameVersion, table.GetText(L"STR-002")};
        case ToInt(EResultCode::UpdateSkip):
            return {kExitNewerSkipped, table.GetText(L"STR-003")};
        default:
            return {kExitRewriteFailed, table.GetResultText(progress)};
    }
}

SRunOutcome InterruptedOutcome() {
    return {kExitRewriteFailed, CUIStringTable::GetInstance().GetText(L"STR-301")};
}

}  // namespace talbo::tesk::vorta
