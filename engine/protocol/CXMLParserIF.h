#pragma once

#include <string>

namespace talbo::tesk::vorta {

// A loaded device response, read by element name. An element is looked for from the root's
// grandchildren downwards, depth first in document order, by its qualified name; the root and
// its direct children are never found.
class CXMLParserIF {
public:
    virtual ~CXMLParserIF() = default;

    // Parses document and, when schema is not empty, validates it against that schema. Discards
    // what an earlier call loaded. False when the text is not well-formed or not valid.
    virtual bool Load(const std::wstring& document, const std::wstring& schema) = 0;
    // False when the element is not there (value untouched). True otherwise; value receives the
    // attribute's text when the element has it, else stays as it was.
    virtual bool GetAttribute(const std::wstring& elementName, const std::wstring& attributeName,
                              std::wstring& value) const = 0;
    // False when the element is not there. True with the text of all its descendant text nodes,
    // leading and trailing XML white space (space, tab, CR, LF) removed; inner white space stays.
    virtual bool GetText(const std::wstring& elementName, std::wstring& text) const = 0;
};

}  // namespace talbo::tesk::vorta
