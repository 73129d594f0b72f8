#include "engine/jobs/CReceiveState.h"

#include "common/Utf8.h"
#include "engine/jobs/ResultNames.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/CConnection.h"

namespace talbo::tesk::vorta {

namespace {
constexpr int kHttpOk = 200;
}

std::wstring CReceiveState::ReceiveBody(const std::wstring& hostName, std::wstring& body) {
    CConnection* connection = model != nullptr ? model->GetConnection(hostName) : nullptr;
    if (connection == nullptr) {
        return kResultOtherError;
    }
    ByteSequence bytes;
    if (connection->Receive(bytes) != kHttpOk) {
        return kResultTimeOut;
    }
    auto decoded = common::DecodeUtf8(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
    if (!decoded) {
        return kResultOtherError;
    }
    body = std::move(*decoded);
    return kResultIdle;
}

}  // namespace talbo::tesk::vorta
