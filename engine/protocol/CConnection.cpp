#include "engine/protocol/CConnection.h"

#include "engine/protocol/CRequestBuilder.h"

namespace talbo::tesk::vorta {

CConnection::CConnection(std::unique_ptr<CRequestBuilder> builder) : builder(std::move(builder)) {}

CConnection::~CConnection() = default;

}  // namespace talbo::tesk::vorta
