#include "engine/protocol/UtilityDocuments.h"

#include <vector>

#include "engine/model/CUpdateImagePart.h"
#include "engine/protocol/MacAddressList.h"
#include "engine/protocol/UtilityNamespace.h"

namespace talbo::tesk::vorta {

namespace {

// Declaration, root, client address, and the request start tag. The values come from the
// computer and the image header: they are escaped so that no value can break the document.
bool AppendDocumentStart(const std::wstring& requestType, std::wstring& text) {
    std::vector<std::wstring> addresses;
    GetMacAddressList(addresses);
    if (addresses.empty()) {
        return false;
    }
    text += L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
    text += L"<tesk-utility xmlns=\"";
    text += kUtilityNamespace;
    text += L"\">";
    text += L"<mac-address>" + EscapeXmlText(addresses.front()) + L"</mac-address>";
    text += L"<update>";
    text += L"<request type=\"" + EscapeXmlText(requestType) + L"\">";
    return true;
}

}  // namespace

std::wstring EscapeXmlText(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        switch (c) {
            case L'&':
                out += L"&amp;";
                break;
            case L'<':
                out += L"&lt;";
                break;
            case L'>':
                out += L"&gt;";
                break;
            case L'"':
                out += L"&quot;";
                break;
            // Line breaks and tabs as references survive attribute-value normalisation.
            case L'\t':
                out += L"&#9;";
                break;
            case L'\n':
                out += L"&#10;";
                break;
            case L'\r':
                out += L"&#13;";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

int AppendGetInformationDocument(std::wstring& document) {
    try {
        std::wstring text;
        if (!AppendDocumentStart(kGetInformationRequest, text)) {
            return -1;
        }
        text += L"<get-information><model-name/></get-information>";
        text += L"<get-information><version/></get-information>";
        text += L"<get-information><status/></get-information>";
        text += L"</request>";
        text += L"</update>";
        text += L"</tesk-utility>";
        document += text;
        return 0;
    } catch (...) {
        return -1;
    }
}

int AppendImagePartDocument(const std::wstring& requestType, const CUpdateImagePart& part,
                            std::wstring& document) {
    try {
        std::wstring text;
        if (!AppendDocumentStart(requestType, text)) {
            return -1;
        }
        text += L"<after-version>" + EscapeXmlText(part.GetAfterVersion()) + L"</after-version>";
        text += L"</request>";
        text += L"<file-digest value=\"" + EscapeXmlText(part.GetDigest()) + L"\"/>";
        text += L"</update>";
        text += L"</tesk-utility>";
        document += text;
        return 0;
    } catch (...) {
        return -1;
    }
}

}  // namespace talbo::tesk::vorta
