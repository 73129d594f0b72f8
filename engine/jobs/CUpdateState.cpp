#include "engine/jobs/CUpdateState.h"

#include "engine/jobs/CChangeModeCompleteWait.h"
#include "engine/jobs/CConnectState.h"
#include "engine/jobs/CUpdateReceiveState.h"
#include "engine/jobs/CUpdateSendState.h"
#include "engine/jobs/ResultNames.h"
#include "engine/model/CUpdateImagePart.h"
#include "engine/model/CUpdateModelIF.h"

namespace talbo::tesk::vorta {

CUpdateState::CUpdateState(CUpdateModelIF* model, const std::wstring& successName, bool restartWait)
    : CCompositeState(model, successName) {
    Put(L"Connect", std::make_unique<CConnectState>(model, L"Send"));
    Put(L"Send", std::make_unique<CUpdateSendState>(model, L"Receive"));
    Put(L"Receive",
        std::make_unique<CUpdateReceiveState>(model, restartWait ? L"CompleteWait" : successName));
    if (restartWait) {
        Put(L"CompleteWait", std::make_unique<CChangeModeCompleteWait>(model, successName));
    }
}

std::wstring CUpdateState::Execute(const std::wstring& hostName) {
    if (model == nullptr) {
        return kResultOtherError;
    }
    return RunParts(hostName);
}

std::wstring CUpdateState::RunParts(const std::wstring& hostName) {
    // Each part gets an exchange of its own; the composite's default result is the success
    // name, so a part succeeded exactly when its exchange returned it.
    for (partCursor = 0; partCursor < imageParts.size(); ++partCursor) {
        const CUpdateImagePart* part = imageParts[partCursor];
        if (part == nullptr) {
            break;
        }
        model->SetDeviceValue(hostName, L"sendfile", part->GetName());
        std::wstring result = RunFrom(hostName, startName);
        if (result != defaultResult) {
            return result;
        }
    }
    return defaultResult;
}

}  // namespace talbo::tesk::vorta
