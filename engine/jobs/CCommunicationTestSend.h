#pragma once

#include "engine/jobs/CSendState.h"

namespace talbo::tesk::vorta {

// Sends the "GetInformation" request (model name, version, status); carries no file.
class CCommunicationTestSend : public CSendState {
public:
    using CSendState::CSendState;

protected:
    int PrepareRequest(const CUpdateImagePart*& part) override;
    int BuildRequest(const CUpdateImagePart* part, std::wstring& document) override;
    const wchar_t* RequestType() const override;
};

}  // namespace talbo::tesk::vorta
