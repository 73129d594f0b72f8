#include "engine/jobs/CUpdateSendState.h"

#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/UtilityDocuments.h"

namespace talbo::tesk::vorta {

int CUpdateSendState::PrepareRequest(const CUpdateImagePart*& part) {
    // Found again by name: when an earlier step has a block of the same name, that one goes.
    part = model->FindImagePart(model->GetDeviceValue(hostName, L"sendfile"));
    return part != nullptr ? 0 : -1;
}

int CUpdateSendState::BuildRequest(const CUpdateImagePart* part, std::wstring& document) {
    return part != nullptr ? AppendImagePartDocument(kUpdateRequest, *part, document) : -1;
}

const wchar_t* CUpdateSendState::RequestType() const {
    return kUpdateRequest;
}

}  // namespace talbo::tesk::vorta
