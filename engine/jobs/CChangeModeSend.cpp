#include "engine/jobs/CChangeModeSend.h"

#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/UtilityDocuments.h"

namespace talbo::tesk::vorta {

int CChangeModeSend::PrepareRequest(const CUpdateImagePart*& part) {
    part = model->FindImagePart(partName);
    return part != nullptr ? 0 : -1;
}

int CChangeModeSend::BuildRequest(const CUpdateImagePart* part, std::wstring& document) {
    return part != nullptr ? AppendImagePartDocument(kChangeModeRequest, *part, document) : -1;
}

const wchar_t* CChangeModeSend::RequestType() const {
    return kChangeModeRequest;
}

}  // namespace talbo::tesk::vorta
