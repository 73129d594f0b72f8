#pragma once

#include <string>

namespace talbo::tesk::vorta {

class CXMLParserIF;

// One node of a response-analysis tree: turns a loaded response into a result text. Trees are
// read-only once built and keep no state between responses.
class CAnalyzeXML {
public:
    virtual ~CAnalyzeXML() = default;
    // The result for the response the parser holds; a null parser reads as an empty response.
    virtual std::wstring Analyze(const CXMLParserIF* parser) const = 0;
};

}  // namespace talbo::tesk::vorta
