// The simulator's strict reader of request documents. A document it accepts must come out the
// same when its fields are written again with the engine's XML escaping, the way the engine
// writes every request: the two sides must agree on every text a device can be sent.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "common/Utf8.h"
#include "engine/protocol/UtilityDocuments.h"
#include "simulator/CRequestDocumentReader.h"

namespace tv = talbo::tesk::vorta;
namespace ds = talbo::tesk::vorta::devsim;
using vorta_fuzz::Require;

namespace {

std::string Escaped(const std::string& text) {
    const auto wide = tv::common::DecodeUtf8(text);
    Require(wide.has_value(), "an accepted text is UTF-8");
    const auto bytes = tv::common::EncodeUtf8(tv::EscapeXmlText(*wide));
    Require(bytes.has_value(), "an escaped text encodes as UTF-8");
    return *bytes;
}

// The document as the engine writes it for these fields.
std::string Written(const ds::RequestDocument& document) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<tesk-utility xmlns=\"";
    text += std::string(ds::kUtilityNamespace) + "\"><mac-address>" + document.macAddress +
            "</mac-address><update><request type=\"" +
            std::string(ds::RequestTypeName(document.type)) + "\">";
    if (document.type == ds::RequestType::GetInformation) {
        text +=
            "<get-information><model-name/></get-information>"
            "<get-information><version/></get-information>"
            "<get-information><status/></get-information></request>";
    } else {
        text += "<after-version>" + Escaped(document.afterVersion) +
                "</after-version></request><file-digest value=\"" + document.fileDigest + "\"/>";
    }
    return text + "</update></tesk-utility>";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ds::RequestDocumentReading reading = ds::ReadRequestDocument(text);
    Require(reading.document.has_value() == reading.error.empty(),
            "a document is read or refused with a reason");
    if (!reading.document) {
        return 0;
    }
    const ds::RequestDocument& document = *reading.document;
    Require(reading.requestType == ds::RequestTypeName(document.type), "the type is reported");
    Require(document.macAddress.size() == 17, "the MAC address has six pairs");
    if (document.type != ds::RequestType::GetInformation) {
        Require(!document.afterVersion.empty(), "a version is announced");
        Require(document.fileDigest.size() == 32, "a digest is announced");
    }

    const ds::RequestDocumentReading again = ds::ReadRequestDocument(Written(document));
    Require(again.document.has_value(), "the engine's form of an accepted document is accepted");
    Require(again.document->type == document.type &&
                again.document->macAddress == document.macAddress &&
                again.document->afterVersion == document.afterVersion &&
                again.document->fileDigest == document.fileDigest,
            "the engine's form of an accepted document reads the same");
    return 0;
}
