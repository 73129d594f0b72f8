#pragma once
// Compiled response schemas kept for the next answer. Compiling the schema costs some forty
// times more than checking an answer against it, and every answer is checked, so a fleet's
// worth of answers would otherwise spend most of the engine's parsing time compiling the same
// text again. A compiled schema is lent to one thread at a time: libxml2 does not promise that
// validating leaves a schema untouched, so runners never share one at the same moment.

#include <mutex>
#include <string>
#include <vector>

// libxml2's compiled schema, kept out of this header: the library's entry points include it.
struct _xmlSchema;  // NOLINT(bugprone-reserved-identifier): libxml2's own name for it

namespace talbo::tesk::vorta {

class CCompiledSchemaPool {
public:
    // A compiled schema on loan; it goes back to the pool when the lease ends.
    class CLease {
    public:
        CLease(CCompiledSchemaPool* pool, _xmlSchema* schema, std::string source);
        ~CLease();
        CLease(const CLease&) = delete;
        CLease& operator=(const CLease&) = delete;

        // Null when the text does not compile.
        _xmlSchema* Schema() const { return schema; }

    private:
        CCompiledSchemaPool* pool;
        _xmlSchema* schema;
        std::string source;
    };

    CCompiledSchemaPool() = default;
    ~CCompiledSchemaPool();
    CCompiledSchemaPool(const CCompiledSchemaPool&) = delete;
    CCompiledSchemaPool& operator=(const CCompiledSchemaPool&) = delete;

    // A schema compiled from this UTF-8 text: one kept from an earlier answer, or a new one.
    CLease Take(const std::string& source);

private:
    void GiveBack(_xmlSchema* schema, std::string source);

    std::mutex mutex;
    // Only schemas of the newest text are kept; the engine checks against one text only.
    std::string keptSource;
    std::vector<_xmlSchema*> kept;
};

// The engine's one pool. The library makes it before its model and controller, so that it
// outlives every worker that borrows from it.
CCompiledSchemaPool& CompiledSchemas();

}  // namespace talbo::tesk::vorta
