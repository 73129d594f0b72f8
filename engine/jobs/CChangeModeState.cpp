#include "engine/jobs/CChangeModeState.h"

#include "engine/jobs/CChangeModeCompleteWait.h"
#include "engine/jobs/CChangeModeReceive.h"
#include "engine/jobs/CChangeModeSend.h"
#include "engine/jobs/CConnectState.h"
#include "engine/jobs/ResultNames.h"

namespace talbo::tesk::vorta {

CChangeModeState::CChangeModeState(CUpdateModelIF* model, const std::wstring& successName,
                                   const std::wstring& partName, bool restartWait)
    : CCompositeState(model, kResultOtherError) {
    Put(L"Connect", std::make_unique<CConnectState>(model, L"Send"));
    Put(L"Send", std::make_unique<CChangeModeSend>(model, L"Receive", partName));
    Put(L"Receive",
        std::make_unique<CChangeModeReceive>(model, restartWait ? L"CompleteWait" : successName));
    if (restartWait) {
        Put(L"CompleteWait", std::make_unique<CChangeModeCompleteWait>(model, successName));
    }
}

}  // namespace talbo::tesk::vorta
