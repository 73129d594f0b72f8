#pragma once
// Builds the response documents a device sends back: information, acceptance and refusal, all
// in the utility namespace and of the form the client's response schema accepts, plus the
// damaged bodies that faults ask for.

#include <cstddef>
#include <string>
#include <string_view>

namespace talbo::tesk::vorta::devsim {

// What a device says about itself in the status element.
struct StatusReport {
    std::string text;           // "Idle", "SelfUpdating", "Broken", "AnotherApp", ...
    std::string appName;        // AnotherApp: the application that keeps it busy
    std::string progress;       // Broken: the first part not yet done
    std::string version;        // Broken: the version the unfinished update installs
    bool withProgress = false;  // Broken: whether to write the update-not-complete element
};

std::string InformationResponse(std::string_view modelName, std::string_view version,
                                const StatusReport& status);
std::string AcceptedResponse();
// success="false" with a reason; appName adds the another-app element (reason AnotherApp).
std::string RefusalResponse(std::string_view reason, std::string_view appName = {});

// Bodies for faults.
std::string MalformedXmlResponse();
std::string SchemaInvalidResponse();
std::string NonUtf8Response();
// A well-formed, schema-valid response padded to at least the given size.
std::string OversizedResponse(std::size_t atLeast);

std::string EscapeXml(std::string_view text);

}  // namespace talbo::tesk::vorta::devsim
