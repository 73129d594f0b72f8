#pragma once

#include <map>
#include <memory>
#include <string>

#include "engine/protocol/CAnalyzeXML.h"

namespace talbo::tesk::vorta {

// Picks a value out of the response and hands the response on to the child kept under that
// value; without such a child it yields its default. Owns its children.
class CAnalyzeXMLRoot : public CAnalyzeXML {
public:
    explicit CAnalyzeXMLRoot(std::wstring defaultResult)
        : defaultResult(std::move(defaultResult)) {}

    std::wstring Analyze(const CXMLParserIF* parser) const override;
    virtual std::wstring SelectValue(const CXMLParserIF* parser) const = 0;

    // Puts node under key (compared exactly), destroying any node kept there before. Returns
    // the node, so that its own children can be put right away.
    template <typename Node>
    Node& PutChild(const std::wstring& key, std::unique_ptr<Node> node) {
        Node& placed = *node;
        children.insert_or_assign(key, std::move(node));
        return placed;
    }

private:
    std::map<std::wstring, std::unique_ptr<CAnalyzeXML>> children;
    std::wstring defaultResult;
};

// Selects an attribute of the first element of a name.
class CAnalyzeXMLRootAttribute : public CAnalyzeXMLRoot {
public:
    CAnalyzeXMLRootAttribute(std::wstring elementName, std::wstring attributeName,
                             std::wstring defaultResult)
        : CAnalyzeXMLRoot(std::move(defaultResult)),
          elementName(std::move(elementName)),
          attributeName(std::move(attributeName)) {}
    std::wstring SelectValue(const CXMLParserIF* parser) const override;

private:
    std::wstring elementName;
    std::wstring attributeName;
};

// Selects the text of the first element of a name.
class CAnalyzeXMLRootElement : public CAnalyzeXMLRoot {
public:
    CAnalyzeXMLRootElement(std::wstring elementName, std::wstring defaultResult)
        : CAnalyzeXMLRoot(std::move(defaultResult)), elementName(std::move(elementName)) {}
    std::wstring SelectValue(const CXMLParserIF* parser) const override;

private:
    std::wstring elementName;
};

}  // namespace talbo::tesk::vorta
