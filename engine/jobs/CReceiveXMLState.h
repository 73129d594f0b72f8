#pragma once

#include "engine/jobs/CReceiveState.h"

namespace talbo::tesk::vorta {

class CXMLParserIF;

// Receives the answer, loads it against the response schema and lets the concrete state
// turn it into the next state's name.
class CReceiveXMLState : public CReceiveState {
public:
    using CReceiveState::CReceiveState;

    // The failure of ReceiveBody, "OtherError" for an answer that does not load against the
    // schema, else what Analyze makes of it.
    std::wstring Execute(const std::wstring& hostName) override;

protected:
    virtual std::wstring Analyze(const CXMLParserIF& parser) = 0;
};

}  // namespace talbo::tesk::vorta
