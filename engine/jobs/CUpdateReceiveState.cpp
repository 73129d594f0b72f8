#include "engine/jobs/CUpdateReceiveState.h"

#include "engine/protocol/AnalysisTrees.h"

namespace talbo::tesk::vorta {

CUpdateReceiveState::CUpdateReceiveState(CUpdateModelIF* model, const std::wstring& nextName)
    : CReceiveXMLState(model), tree(BuildUpdateTree(nextName)) {
    text = nextName;
}

CUpdateReceiveState::~CUpdateReceiveState() = default;

std::wstring CUpdateReceiveState::Analyze(const CXMLParserIF& parser) {
    return tree->Analyze(&parser);
}

}  // namespace talbo::tesk::vorta
