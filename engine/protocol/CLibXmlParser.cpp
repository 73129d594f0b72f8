#include "engine/protocol/CLibXmlParser.h"

#include <libxml/parser.h>
#include <libxml/schemasInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <climits>
#include <optional>
#include <string>

#include "common/Utf8.h"
#include "engine/protocol/CompiledSchemaPool.h"
#include "engine/protocol/UtilityNamespace.h"

namespace talbo::tesk::vorta {

namespace {

void IgnoreStructuredError(void* /*context*/, xmlErrorPtr /*error*/) {}

// NOLINTNEXTLINE(cert-dcl50-cpp): libxml2's xmlGenericErrorFunc is a C variadic callback
void IgnoreGenericError(void* /*context*/, const char* /*format*/, ...) {}

struct ParseGuard {
    bool documentTypeSeen = false;
};

// A response never carries a document type; one that does is stopped at once, before any of
// its declarations can be expanded.
void RefuseDocumentType(void* context, const xmlChar* /*name*/, const xmlChar* /*externalId*/,
                        const xmlChar* /*systemId*/) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    static_cast<ParseGuard*>(parser->_private)->documentTypeSeen = true;
    xmlStopParser(parser);
}

xmlDocPtr ParseWellFormed(const std::string& bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return nullptr;
    }
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    if (parser == nullptr) {
        return nullptr;
    }
    ParseGuard guard;
    parser->_private = &guard;
    parser->sax->serror = &IgnoreStructuredError;
    parser->sax->internalSubset = &RefuseDocumentType;
    // The text was decoded already; whatever the declaration names, these bytes are UTF-8.
    xmlDocPtr parsed =
        xmlCtxtReadMemory(parser, bytes.data(), static_cast<int>(bytes.size()), nullptr, "UTF-8",
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool accepted = parsed != nullptr && parser->wellFormed != 0 && !guard.documentTypeSeen;
    xmlFreeParserCtxt(parser);
    if (!accepted && parsed != nullptr) {
        xmlFreeDoc(parsed);
        parsed = nullptr;
    }
    return parsed;
}

// The schema must describe the utility namespace, as a response is only ever checked against
// the schema registered under that namespace.
bool IsValid(xmlDocPtr parsed, const std::string& schemaBytes) {
    const CCompiledSchemaPool::CLease lease = CompiledSchemas().Take(schemaBytes);
    xmlSchemaPtr schema = lease.Schema();
    if (schema == nullptr) {
        return false;
    }
    const std::optional<std::string> utilityNamespace = common::EncodeUtf8(kUtilityNamespace);
    if (schema->targetNamespace == nullptr || !utilityNamespace ||
        *utilityNamespace != reinterpret_cast<const char*>(schema->targetNamespace)) {
        return false;
    }
    xmlSchemaValidCtxtPtr validator = xmlSchemaNewValidCtxt(schema);
    if (validator == nullptr) {
        return false;
    }
    xmlSchemaSetValidStructuredErrors(validator, &IgnoreStructuredError, nullptr);
    const bool valid = xmlSchemaValidateDoc(validator, parsed) == 0;
    xmlSchemaFreeValidCtxt(validator);
    return valid;
}

// Element or attribute name as the document writes it: "prefix:local", or "local".
template <typename Node>
std::string QualifiedName(const Node* node) {
    std::string name = reinterpret_cast<const char*>(node->name);
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        name = reinterpret_cast<const char*>(node->ns->prefix) + (":" + name);
    }
    return name;
}

const xmlNode* FindBelow(const xmlNode* parent, const std::string& name) {
    for (const xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) {
            continue;
        }
        if (QualifiedName(child) == name) {
            return child;
        }
        if (const xmlNode* found = FindBelow(child, name)) {
            return found;
        }
    }
    return nullptr;
}

// The text content of a node as wide text; libxml2 hands out UTF-8.
std::wstring ContentOf(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    if (content == nullptr) {
        return {};
    }
    std::optional<std::wstring> text =
        common::DecodeUtf8(std::string_view(reinterpret_cast<const char*>(content)));
    xmlFree(content);
    return text ? std::move(*text) : std::wstring();
}

// Devices may indent their answers; the white space of that layout is not part of a value.
// Only XML's own white space counts, as the platform DOM trims under default handling.
std::wstring TrimXmlWhiteSpace(const std::wstring& text) {
    constexpr const wchar_t* kXmlWhiteSpace = L" \t\r\n";
    const std::size_t first = text.find_first_not_of(kXmlWhiteSpace);
    if (first == std::wstring::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kXmlWhiteSpace);
    return text.substr(first, last - first + 1);
}

}  // namespace

CLibXmlParser::~CLibXmlParser() {
    FreeDocument();
}

void CLibXmlParser::FreeDocument() {
    if (document != nullptr) {
        xmlFreeDoc(document);
        document = nullptr;
    }
}

bool CLibXmlParser::Load(const std::wstring& text, const std::wstring& schema) {
    try {
        FreeDocument();
        // Errors without a context of their own would go to this thread's generic handler.
        xmlSetGenericErrorFunc(nullptr, &IgnoreGenericError);
        const std::optional<std::string> bytes = common::EncodeUtf8(text);
        if (!bytes) {
            return false;
        }
        xmlDocPtr parsed = ParseWellFormed(*bytes);
        if (parsed == nullptr) {
            return false;
        }
        if (!schema.empty()) {
            const std::optional<std::string> schemaBytes = common::EncodeUtf8(schema);
            if (!schemaBytes || !IsValid(parsed, *schemaBytes)) {
                xmlFreeDoc(parsed);
                return false;
            }
        }
        document = parsed;
        return true;
    } catch (...) {
        FreeDocument();
        return false;
    }
}

const xmlNode* CLibXmlParser::FindElement(const std::wstring& elementName) const {
    if (document == nullptr) {
        return nullptr;
    }
    const xmlNode* root = xmlDocGetRootElement(document);
    const std::optional<std::string> name = common::EncodeUtf8(elementName);
    if (root == nullptr || !name) {
        return nullptr;
    }
    for (const xmlNode* child = root->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) {
            continue;
        }
        if (const xmlNode* found = FindBelow(child, *name)) {
            return found;
        }
    }
    return nullptr;
}

bool CLibXmlParser::GetAttribute(const std::wstring& elementName, const std::wstring& attributeName,
                                 std::wstring& value) const {
    try {
        const xmlNode* element = FindElement(elementName);
        if (element == nullptr) {
            return false;
        }
        const std::optional<std::string> name = common::EncodeUtf8(attributeName);
        for (const xmlAttr* attribute = element->properties; name && attribute != nullptr;
             attribute = attribute->next) {
            if (QualifiedName(attribute) == *name) {
                value = ContentOf(reinterpret_cast<const xmlNode*>(attribute));
                break;
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool CLibXmlParser::GetText(const std::wstring& elementName, std::wstring& text) const {
    try {
        const xmlNode* element = FindElement(elementName);
        if (element == nullptr) {
            return false;
        }
        text = TrimXmlWhiteSpace(ContentOf(element));
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace talbo::tesk::vorta
