#pragma once
// Strict reader of the request documents a device receives. The client builds them in one fixed
// form, so every byte is checked against that form: the declaration and its CR LF, the root in
// the utility namespace, the MAC address, the request type and what follows it. The first
// difference is reported with its offset and what was found there.

#include <optional>
#include <string>
#include <string_view>

namespace talbo::tesk::vorta::devsim {

inline constexpr std::string_view kUtilityNamespace =
    "http://www.talbo.com/schemas/2012/02/tesk-utility";

enum class RequestType { GetInformation, ChangeMode, Update };

std::string_view RequestTypeName(RequestType type);

struct RequestDocument {
    RequestType type = RequestType::GetInformation;
    std::string macAddress;    // six upper-case hexadecimal pairs joined by ":"
    std::string afterVersion;  // ChangeMode and Update only, references resolved
    std::string fileDigest;    // ChangeMode and Update only
};

struct RequestDocumentReading {
    std::optional<RequestDocument> document;
    std::string error;        // what was wrong, when there is no document
    std::string requestType;  // the type text when it could be read, even if the rest failed
};

// Reads one document that must fill text completely.
RequestDocumentReading ReadRequestDocument(std::string_view text);

}  // namespace talbo::tesk::vorta::devsim
