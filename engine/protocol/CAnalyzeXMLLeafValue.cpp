#include "engine/protocol/CAnalyzeXMLLeafValue.h"

#include <algorithm>

#include "engine/protocol/CXMLParserIF.h"

namespace talbo::tesk::vorta {

std::wstring SelectAttributeValue(const CXMLParserIF* parser, const std::wstring& elementName,
                                  const std::wstring& attributeName) {
    std::wstring value;
    if (parser != nullptr) {
        parser->GetAttribute(elementName, attributeName, value);
    }
    return value;
}

std::wstring SelectElementText(const CXMLParserIF* parser, const std::wstring& elementName) {
    std::wstring text;
    if (parser != nullptr) {
        parser->GetText(elementName, text);
    }
    return text;
}

std::wstring CAnalyzeXMLLeafValue::Analyze(const CXMLParserIF* parser) const {
    return SelectValue(parser);
}

std::wstring CAnalyzeXMLLeafValueAttribute::SelectValue(const CXMLParserIF* parser) const {
    return SelectAttributeValue(parser, elementName, attributeName);
}

std::wstring CAnalyzeXMLLeafPartNumber::SelectValue(const CXMLParserIF* parser) const {
    std::wstring value = CAnalyzeXMLLeafValueAttribute::SelectValue(parser);
    const bool digits =
        std::all_of(value.begin(), value.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    return digits ? value : std::wstring();
}

std::wstring CAnalyzeXMLLeafValueElement::SelectValue(const CXMLParserIF* parser) const {
    return SelectElementText(parser, elementName);
}

}  // namespace talbo::tesk::vorta
