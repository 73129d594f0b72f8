#include "engine/jobs/CChangeModeReceive.h"

#include "engine/protocol/AnalysisTrees.h"

namespace talbo::tesk::vorta {

CChangeModeReceive::CChangeModeReceive(CUpdateModelIF* model, const std::wstring& nextName)
    : CReceiveXMLState(model), tree(BuildChangeModeTree(nextName)) {
    text = nextName;
}

CChangeModeReceive::~CChangeModeReceive() = default;

std::wstring CChangeModeReceive::Analyze(const CXMLParserIF& parser) {
    return tree->Analyze(&parser);
}

}  // namespace talbo::tesk::vorta
