#include "engine/jobs/CConnectState.h"

#include "engine/jobs/ResultNames.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/CConnection.h"

namespace talbo::tesk::vorta {

std::wstring CConnectState::Execute(const std::wstring& hostName) {
    if (model == nullptr) {
        return kResultOtherError;
    }
    CConnection* connection = model->CreateUpdateConnection(hostName);
    if (connection == nullptr || connection->Open() != 0) {
        return kResultTimeOut;
    }
    return nextName;
}

}  // namespace talbo::tesk::vorta
