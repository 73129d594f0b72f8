#include "engine/jobs/CCommunicationTestSend.h"

#include "engine/protocol/UtilityDocuments.h"

namespace talbo::tesk::vorta {

int CCommunicationTestSend::PrepareRequest(const CUpdateImagePart*& part) {
    part = nullptr;
    return 0;
}

int CCommunicationTestSend::BuildRequest(const CUpdateImagePart* /*part*/, std::wstring& document) {
    return AppendGetInformationDocument(document);
}

const wchar_t* CCommunicationTestSend::RequestType() const {
    return kGetInformationRequest;
}

}  // namespace talbo::tesk::vorta
