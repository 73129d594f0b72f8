#include "simulator/CResponseWriter.h"

#include "simulator/CRequestDocumentReader.h"

namespace talbo::tesk::vorta::devsim {
namespace {

std::string Open() {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<tesk-utility xmlns=\"";
    text += kUtilityNamespace;
    text += "\"><update>";
    return text;
}

constexpr std::string_view kClose = "</update></tesk-utility>";

std::string AnotherApp(std::string_view appName) {
    return "<additional-data><another-app app-name=\"" + EscapeXml(appName) +
           "\"/></additional-data>";
}

}  // namespace

std::string EscapeXml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string InformationResponse(std::string_view modelName, std::string_view version,
                                const StatusReport& status) {
    std::string text = Open();
    text += "<response success=\"true\"><model-name>" + EscapeXml(modelName) +
            "</model-name><version>" + EscapeXml(version) + "</version><status>" +
            EscapeXml(status.text);
    if (status.text == "AnotherApp") {
        text += AnotherApp(status.appName);
    } else if (status.withProgress) {
        text +=
            "<additional-data><update-not-complete progress=\"" + EscapeXml(status.progress) + "\"";
        if (!status.version.empty()) {
            text += " version=\"" + EscapeXml(status.version) + "\"";
        }
        text += "/></additional-data>";
    }
    text += "</status></response>";
    text += kClose;
    return text;
}

std::string AcceptedResponse() {
    return Open() + "<response success=\"true\"/>" + std::string(kClose);
}

std::string RefusalResponse(std::string_view reason, std::string_view appName) {
    std::string text = Open() + "<response success=\"false\"><reason>" + EscapeXml(reason);
    if (!appName.empty()) {
        text += AnotherApp(appName);
    }
    return text + "</reason></response>" + std::string(kClose);
}

std::string MalformedXmlResponse() {
    // Cut off in the middle: the response and the root are never closed.
    return Open() + "<response success=\"true\"><status>Idle</status>";
}

std::string SchemaInvalidResponse() {
    // Well-formed, but "success" must be "true" or "false" and "update" may appear only once.
    return Open() + "<response success=\"yes\"/></update><update><response/>" + std::string(kClose);
}

std::string NonUtf8Response() {
    std::string text = Open() + "<response success=\"true\"><model-name>QX-Vorta-";
    text += '\xFF';
    text += '\xFE';
    return text + "</model-name></response>" + std::string(kClose);
}

std::string OversizedResponse(std::size_t atLeast) {
    std::string head = Open() + "<response success=\"true\"><model-name>";
    std::string tail = "</model-name></response>" + std::string(kClose);
    std::size_t padding =
        atLeast > head.size() + tail.size() ? atLeast - head.size() - tail.size() : 0;
    return head + std::string(padding, 'X') + tail;
}

}  // namespace talbo::tesk::vorta::devsim
