#include "engine/jobs/CSendState.h"

#include "engine/jobs/ResultNames.h"
#include "engine/model/CDeviceTrace.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/CConnection.h"

namespace talbo::tesk::vorta {

std::wstring CSendState::Execute(const std::wstring& host) {
    if (model == nullptr) {
        return kResultOtherError;
    }
    hostName = host;
    CConnection* connection = model->GetConnection(host);
    if (connection == nullptr) {
        return kResultOtherError;
    }
    const CUpdateImagePart* part = nullptr;
    if (PrepareRequest(part) != 0) {
        return kResultOtherError;
    }
    std::wstring document;
    if (BuildRequest(part, document) != 0) {
        return kResultOtherError;
    }
    if (CDeviceTrace* trace = model->DeviceTrace(host)) {
        trace->SetRequest(RequestType(), part);
    }
    if (connection->Send(document, part) != 0) {
        return kResultTimeOut;
    }
    return nextName;
}

}  // namespace talbo::tesk::vorta
