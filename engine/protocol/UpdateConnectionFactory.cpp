#include "engine/protocol/UpdateConnectionFactory.h"

namespace talbo::tesk::vorta {

// Stand-ins until the HTTP transport and the request documents exist.
std::unique_ptr<CConnection> MakeUpdateConnection(const std::wstring& /*hostName*/) { return {}; }

const std::wstring& ResponseSchemaText() {
    static const std::wstring schema;
    return schema;
}

}  // namespace talbo::tesk::vorta

namespace talbo::tesk::vorta {

bool InitializeProtocolLibraries() { return true; }
void ShutdownProtocolLibraries() {}

}  // namespace talbo::tesk::vorta
