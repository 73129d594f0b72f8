#include "engine/protocol/CConnection.h"

#include "engine/model/CStopSignal.h"
#include "engine/protocol/CRequestBuilder.h"

namespace talbo::tesk::vorta {

CConnection::CConnection(std::unique_ptr<CRequestBuilder> builder) : builder(std::move(builder)) {}

CConnection::~CConnection() = default;

bool CConnection::StopRequested() const {
    return stopSignal != nullptr && stopSignal->Raised();
}

}  // namespace talbo::tesk::vorta
