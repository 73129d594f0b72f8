#include "engine/protocol/CAnalyzeXMLRoot.h"

#include "engine/protocol/CAnalyzeXMLLeafValue.h"

namespace talbo::tesk::vorta {

std::wstring CAnalyzeXMLRoot::Analyze(const CXMLParserIF* parser) const {
    const auto child = children.find(SelectValue(parser));
    return child != children.end() ? child->second->Analyze(parser) : defaultResult;
}

std::wstring CAnalyzeXMLRootAttribute::SelectValue(const CXMLParserIF* parser) const {
    return SelectAttributeValue(parser, elementName, attributeName);
}

std::wstring CAnalyzeXMLRootElement::SelectValue(const CXMLParserIF* parser) const {
    return SelectElementText(parser, elementName);
}

}  // namespace talbo::tesk::vorta
