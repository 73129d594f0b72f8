#include "RequestBodies.h"

#include <openssl/evp.h>

namespace devsim_test {
namespace {

std::string Document(std::string_view type, std::string_view inner, std::string_view mac) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
    text += "<tesk-utility xmlns=\"" + std::string(kNamespace) + "\">";
    text += "<mac-address>" + std::string(mac) + "</mac-address>";
    text += "<update><request type=\"" + std::string(type) + "\">";
    text += inner;
    return text;
}

std::string FileDocument(std::string_view type, std::string_view afterVersion,
                         std::string_view digest, std::string_view mac) {
    std::string text =
        Document(type, "<after-version>" + std::string(afterVersion) + "</after-version>", mac);
    text +=
        "</request><file-digest value=\"" + std::string(digest) + "\"/></update></tesk-utility>";
    return text;
}

}  // namespace

std::string GetInformationDocument(std::string_view mac) {
    return Document("GetInformation",
                    "<get-information><model-name/></get-information>"
                    "<get-information><version/></get-information>"
                    "<get-information><status/></get-information>",
                    mac) +
           "</request></update></tesk-utility>";
}

std::string ChangeModeDocument(std::string_view afterVersion, std::string_view digest,
                               std::string_view mac) {
    return FileDocument("ChangeMode", afterVersion, digest, mac);
}

std::string UpdateDocument(std::string_view afterVersion, std::string_view digest,
                           std::string_view mac) {
    return FileDocument("Update", afterVersion, digest, mac);
}

Body MakeBody(std::uint32_t boundary, std::string_view document, bool hasFile) {
    const std::string b = std::to_string(boundary);
    Body body;
    body.contentType = "multipart/form-data; boundary=" + b;
    body.head = "--" + b + "\r\n";
    body.head += "Content-Disposition: form-data; name=\"request\"\r\n";
    body.head += "Content-Type: text/xml\r\n\r\n";
    body.head += document;
    body.head += "\r\n";
    if (hasFile) {
        body.head += "--" + b + "\r\n";
        body.head += "Content-Disposition: form-data; name=\"file\"; filename=\"image.tar\"\r\n";
        body.head += "Content-Type: application/octet-stream\r\n\r\n";
    }
    body.tail = "\r\n--" + b + "--\r\n";
    return body;
}

std::string Md5Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 15]);
    }
    return text;
}

}  // namespace devsim_test
