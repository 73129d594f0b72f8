#pragma once

#include <memory>

#include "engine/jobs/CReceiveXMLState.h"

namespace talbo::tesk::vorta {

class CAnalyzeXML;

// Receives the answer to "ChangeMode": its next name when the device accepted, else the
// refusal's result name.
class CChangeModeReceive : public CReceiveXMLState {
public:
    CChangeModeReceive(CUpdateModelIF* model, const std::wstring& nextName);
    ~CChangeModeReceive() override;

protected:
    std::wstring Analyze(const CXMLParserIF& parser) override;

private:
    std::unique_ptr<CAnalyzeXML> tree;
};

}  // namespace talbo::tesk::vorta
