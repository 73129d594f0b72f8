#pragma once

#include <string>

#include "engine/protocol/CAnalyzeXML.h"

namespace talbo::tesk::vorta {

// Yields a fixed text.
class CAnalyzeXMLLeaf : public CAnalyzeXML {
public:
    explicit CAnalyzeXMLLeaf(std::wstring result) : result(std::move(result)) {}
    std::wstring Analyze(const CXMLParserIF* parser) const override;

private:
    std::wstring result;
};

}  // namespace talbo::tesk::vorta
