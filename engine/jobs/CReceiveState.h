#pragma once

#include "engine/jobs/CState.h"

namespace talbo::tesk::vorta {

// Receives the answer on the host's connection.
class CReceiveState : public CState {
public:
    using CState::CState;

protected:
    // "Idle" when body holds the decoded answer; "TimeOut" for no answer or an HTTP status
    // other than 200; "OtherError" without a connection or for a body that is not UTF-8.
    std::wstring ReceiveBody(const std::wstring& hostName, std::wstring& body);

    std::wstring text;  // one text slot the concrete receive states use
};

}  // namespace talbo::tesk::vorta
