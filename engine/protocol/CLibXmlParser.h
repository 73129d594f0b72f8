#pragma once

#include <string>

#include "engine/protocol/CXMLParserIF.h"

// libxml2's document type, kept out of this header.
struct _xmlDoc;   // NOLINT(bugprone-reserved-identifier): libxml2's own name for it
struct _xmlNode;  // NOLINT(bugprone-reserved-identifier): libxml2's own name for it

namespace talbo::tesk::vorta {

// The parser on libxml2. It never touches the network, loads no DTD and substitutes no entity;
// a document with a document type declaration is refused outright. Nothing is ever printed:
// every error goes to handlers of the parser's own contexts. One parser serves one thread.
class CLibXmlParser : public CXMLParserIF {
public:
    CLibXmlParser() = default;
    ~CLibXmlParser() override;

    CLibXmlParser(const CLibXmlParser&) = delete;
    CLibXmlParser& operator=(const CLibXmlParser&) = delete;

    bool Load(const std::wstring& document, const std::wstring& schema) override;
    bool GetAttribute(const std::wstring& elementName, const std::wstring& attributeName,
                      std::wstring& value) const override;
    bool GetText(const std::wstring& elementName, std::wstring& text) const override;

private:
    void FreeDocument();
    const _xmlNode* FindElement(const std::wstring& elementName) const;

    _xmlDoc* document = nullptr;
};

}  // namespace talbo::tesk::vorta
