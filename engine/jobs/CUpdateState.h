#pragma once

#include <vector>

#include "engine/jobs/CCompositeState.h"

namespace talbo::tesk::vorta {

class CUpdateImagePart;

// Uploads the image parts of one step number, one complete exchange ("Update" request) per
// part in image order, optionally followed by the wait for the device's restart. The first
// exchange that does not succeed ends the state with its result.
class CUpdateState : public CCompositeState {
public:
    CUpdateState(CUpdateModelIF* model, const std::wstring& successName, bool restartWait);

    void AddImagePart(const CUpdateImagePart* part) { imageParts.push_back(part); }

    std::wstring Execute(const std::wstring& hostName) override;

private:
    std::wstring RunParts(const std::wstring& hostName);

    std::vector<const CUpdateImagePart*> imageParts;  // owned by the model
    std::wstring startName = L"Connect";
    std::size_t partCursor = 0;
};

}  // namespace talbo::tesk::vorta
