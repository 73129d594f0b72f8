#include "engine/protocol/CAnalyzeXMLLeaf.h"

namespace talbo::tesk::vorta {

std::wstring CAnalyzeXMLLeaf::Analyze(const CXMLParserIF* /*parser*/) const {
    return result;
}

}  // namespace talbo::tesk::vorta
