#include "engine/protocol/CompiledSchemaPool.h"

#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <climits>
#include <utility>

namespace talbo::tesk::vorta {

namespace {

void IgnoreStructuredError(void* /*context*/, xmlErrorPtr /*error*/) {}

xmlSchemaPtr Compile(const std::string& source) {
    if (source.size() > static_cast<std::size_t>(INT_MAX)) {
        return nullptr;
    }
    xmlSchemaParserCtxtPtr parser =
        xmlSchemaNewMemParserCtxt(source.data(), static_cast<int>(source.size()));
    if (parser == nullptr) {
        return nullptr;
    }
    xmlSchemaSetParserStructuredErrors(parser, &IgnoreStructuredError, nullptr);
    xmlSchemaPtr schema = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
    return schema;
}

}  // namespace

CCompiledSchemaPool::CLease::CLease(CCompiledSchemaPool* pool, xmlSchemaPtr schema,
                                    std::string source)
    : pool(pool), schema(schema), source(std::move(source)) {}

CCompiledSchemaPool::CLease::~CLease() {
    if (schema != nullptr) {
        pool->GiveBack(schema, std::move(source));
    }
}

CCompiledSchemaPool::~CCompiledSchemaPool() {
    for (xmlSchemaPtr schema : kept) {
        xmlSchemaFree(schema);
    }
}

CCompiledSchemaPool::CLease CCompiledSchemaPool::Take(const std::string& source) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (source == keptSource && !kept.empty()) {
            xmlSchemaPtr schema = kept.back();
            kept.pop_back();
            return CLease(this, schema, source);
        }
    }
    // Compiled outside the lock: other runners keep validating meanwhile.
    return CLease(this, Compile(source), source);
}

void CCompiledSchemaPool::GiveBack(xmlSchemaPtr schema, std::string source) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (source != keptSource) {
        for (xmlSchemaPtr old : kept) {
            xmlSchemaFree(old);
        }
        kept.clear();
        keptSource = std::move(source);
    }
    try {
        kept.push_back(schema);
    } catch (...) {
        // No room to keep it: the next answer compiles its own.
        xmlSchemaFree(schema);
    }
}

CCompiledSchemaPool& CompiledSchemas() {
    static CCompiledSchemaPool pool;
    return pool;
}

}  // namespace talbo::tesk::vorta
