#pragma once

#include <string>

#include "engine/protocol/CAnalyzeXML.h"

namespace talbo::tesk::vorta {

// Yields a value picked out of the response.
class CAnalyzeXMLLeafValue : public CAnalyzeXML {
public:
    std::wstring Analyze(const CXMLParserIF* parser) const override;
    // The picked value; empty when the element or attribute is not there.
    virtual std::wstring SelectValue(const CXMLParserIF* parser) const = 0;
};

// Yields an attribute of the first element of a name.
class CAnalyzeXMLLeafValueAttribute : public CAnalyzeXMLLeafValue {
public:
    CAnalyzeXMLLeafValueAttribute(std::wstring elementName, std::wstring attributeName)
        : elementName(std::move(elementName)), attributeName(std::move(attributeName)) {}
    std::wstring SelectValue(const CXMLParserIF* parser) const override;

private:
    std::wstring elementName;
    std::wstring attributeName;
};

// Yields an attribute that names a part of an update: decimal digits, or empty text for anything
// else. A device's free text there must never pass for one of the engine's result names ("a
// broken device at part SameVersion" is no device that needs no rewrite).
class CAnalyzeXMLLeafPartNumber : public CAnalyzeXMLLeafValueAttribute {
public:
    using CAnalyzeXMLLeafValueAttribute::CAnalyzeXMLLeafValueAttribute;
    std::wstring SelectValue(const CXMLParserIF* parser) const override;
};

// Yields the text of the first element of a name.
class CAnalyzeXMLLeafValueElement : public CAnalyzeXMLLeafValue {
public:
    explicit CAnalyzeXMLLeafValueElement(std::wstring elementName)
        : elementName(std::move(elementName)) {}
    std::wstring SelectValue(const CXMLParserIF* parser) const override;

private:
    std::wstring elementName;
};

// The two readings every value-selecting node uses; both give empty text for anything missing.
std::wstring SelectAttributeValue(const CXMLParserIF* parser, const std::wstring& elementName,
                                  const std::wstring& attributeName);
std::wstring SelectElementText(const CXMLParserIF* parser, const std::wstring& elementName);

}  // namespace talbo::tesk::vorta
