#pragma once

#include <memory>

#include "engine/jobs/CReceiveXMLState.h"

namespace talbo::tesk::vorta {

class CAnalyzeXML;

// Receives the answer to "Update": its next name when the device took the part, else the
// refusal's result name.
class CUpdateReceiveState : public CReceiveXMLState {
public:
    CUpdateReceiveState(CUpdateModelIF* model, const std::wstring& nextName);
    ~CUpdateReceiveState() override;

protected:
    std::wstring Analyze(const CXMLParserIF& parser) override;

private:
    std::unique_ptr<CAnalyzeXML> tree;
};

}  // namespace talbo::tesk::vorta
