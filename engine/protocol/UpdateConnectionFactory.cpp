#include "engine/protocol/UpdateConnectionFactory.h"

#include <curl/curl.h>
#include <libxml/parser.h>
#include <libxml/xmlschemastypes.h>

#include "engine/protocol/CHttpConnection.h"
#include "engine/protocol/CHttpRequestBuilder.h"

namespace talbo::tesk::vorta {

std::unique_ptr<CConnection> MakeUpdateConnection(const std::wstring& hostName) {
    try {
        return std::make_unique<CHttpConnection>(
            std::make_unique<CHttpRequestBuilder>(L"POST", L"firmware-update", L"firmware-update"),
            hostName, L"TALBO Vorta Firmware Update Tool", L"client", L"Tz8wq3-k");
    } catch (...) {
        return {};
    }
}

bool InitializeProtocolLibraries() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        return false;
    }
    xmlInitParser();
    // The built-in schema types are made lazily by the first schema compile, which is not
    // thread-safe: device runners working at once would race to make them.
    xmlSchemaInitTypes();
    return true;
}

void ShutdownProtocolLibraries() {
    curl_global_cleanup();
    // libxml2 is left initialised: its global clean-up is unsafe while anything else in the
    // process might still use the library, and it holds nothing that needs releasing here.
}

}  // namespace talbo::tesk::vorta
