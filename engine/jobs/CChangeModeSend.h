#pragma once

#include "engine/jobs/CSendState.h"

namespace talbo::tesk::vorta {

// Sends the "ChangeMode" request with the first image part of a given name.
class CChangeModeSend : public CSendState {
public:
    CChangeModeSend(CUpdateModelIF* model, std::wstring nextName, std::wstring partName)
        : CSendState(model, std::move(nextName)), partName(std::move(partName)) {}

protected:
    int PrepareRequest(const CUpdateImagePart*& part) override;
    int BuildRequest(const CUpdateImagePart* part, std::wstring& document) override;
    const wchar_t* RequestType() const override;

private:
    std::wstring partName;
};

}  // namespace talbo::tesk::vorta
