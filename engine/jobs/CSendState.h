#pragma once

#include "engine/jobs/CState.h"

namespace talbo::tesk::vorta {

class CUpdateImagePart;

// Sends one request document (and, for some requests, one image part) on the host's open
// connection.
class CSendState : public CState {
public:
    CSendState(CUpdateModelIF* model, std::wstring nextName)
        : CState(model), nextName(std::move(nextName)) {}

    // nextName when sent; "OtherError" when there is no connection or no request could be
    // prepared; "TimeOut" when sending failed.
    std::wstring Execute(const std::wstring& hostName) override;

protected:
    // The image part the request carries (null for none); 0 on success, -1 on failure.
    virtual int PrepareRequest(const CUpdateImagePart*& part) = 0;
    // Writes the complete request document for the part; 0 on success, -1 on failure.
    virtual int BuildRequest(const CUpdateImagePart* part, std::wstring& document) = 0;
    // The request's type as its document names it, for the device's trace.
    virtual const wchar_t* RequestType() const = 0;

    std::wstring hostName;  // host of the latest Execute, for PrepareRequest

private:
    std::wstring nextName;
};

}  // namespace talbo::tesk::vorta
