#include "simulator/CRequestDocumentReader.h"

#include <algorithm>
#include <cstdint>

#include "common/Utf8.h"

namespace talbo::tesk::vorta::devsim {
namespace {

// Shows what stands at a place of the document, for error texts.
std::string Excerpt(std::string_view text, std::size_t at) {
    if (at >= text.size()) {
        return "the end of the document";
    }
    std::string shown = "\"";
    for (char c : text.substr(at, 24)) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else {
            shown.push_back(c);
        }
    }
    return shown + "\"";
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    std::wstring wide(1, static_cast<wchar_t>(code));
    if (auto bytes = common::EncodeUtf8(wide)) {
        out += *bytes;
    }
}

bool IsXmlChar(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

class CDocumentCursor {
public:
    explicit CDocumentCursor(std::string_view text) : text_(text) {}

    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }
    std::size_t Position() const { return position_; }
    bool AtEnd() const { return position_ == text_.size(); }

    void Expect(std::string_view literal, std::string_view what) {
        if (Failed()) {
            return;
        }
        if (text_.substr(position_, literal.size()) != literal) {
            Fail("expected " + std::string(what) + " \"" + Printable(literal) + "\" at offset " +
                 std::to_string(position_) + ", found " + Excerpt(text_, position_));
            return;
        }
        position_ += literal.size();
    }

    // Character data up to the next '<' (element text) or '"' (attribute value), with the five
    // predefined and the numeric references resolved.
    std::string ReadText(char terminator, std::string_view what) {
        std::string value;
        while (!Failed()) {
            if (position_ >= text_.size()) {
                Fail(std::string(what) + " is not closed");
                break;
            }
            char c = text_[position_];
            if (c == terminator) {
                break;
            }
            if (c == '<') {
                Fail(std::string(what) + " holds a raw '<' at offset " + std::to_string(position_));
                break;
            }
            if (c == '&') {
                ReadReference(value, what);
                continue;
            }
            value.push_back(c);
            ++position_;
        }
        return value;
    }

    void Fail(std::string message) {
        if (error_.empty()) {
            error_ = std::move(message);
        }
    }

private:
    static std::string Printable(std::string_view literal) {
        std::string shown;
        for (char c : literal) {
            shown += c == '\r'   ? std::string("\\r")
                     : c == '\n' ? std::string("\\n")
                                 : std::string(1, c);
        }
        return shown;
    }

    void ReadReference(std::string& value, std::string_view what) {
        std::size_t start = position_;
        std::size_t end = text_.find(';', start);
        if (end == std::string_view::npos || end - start > 12) {
            Fail(std::string(what) + " holds a raw '&' at offset " + std::to_string(start));
            return;
        }
        std::string_view name = text_.substr(start + 1, end - start - 1);
        position_ = end + 1;
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (auto [entity, character] : kNamed) {
            if (name == entity) {
                value.push_back(character);
                return;
            }
        }
        std::uint32_t code = 0;
        bool ok = name.size() >= 2 && name[0] == '#';
        if (ok) {
            bool hex = name[1] == 'x';
            std::string_view digits = name.substr(hex ? 2 : 1);
            ok = !digits.empty();
            for (char d : digits) {
                int digit = d >= '0' && d <= '9'          ? d - '0'
                            : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                            : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                          : -1;
                if (digit < 0 || code > 0x10FFFF) {
                    ok = false;
                    break;
                }
                code = code * (hex ? 16 : 10) + digit;
            }
            ok = ok && IsXmlChar(code);
        }
        if (!ok) {
            Fail(std::string(what) + " holds the unknown reference \"&" + std::string(name) +
                 ";\" at offset " + std::to_string(start));
            return;
        }
        AppendUtf8(value, code);
    }

    std::string_view text_;
    std::size_t position_ = 0;
    std::string error_;
};

bool IsMacAddress(std::string_view text, std::string& problem) {
    if (text.size() != 17) {
        problem = "is " + std::to_string(text.size()) + " characters long, not 17";
        return false;
    }
    bool lowerCase = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i % 3 == 2) {
            if (c != ':') {
                problem = "has '" + std::string(1, c) + "' where ':' belongs";
                return false;
            }
        } else if (c >= 'a' && c <= 'f') {
            lowerCase = true;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            problem = "holds the non-hexadecimal character '" + std::string(1, c) + "'";
            return false;
        }
    }
    if (lowerCase) {
        problem = "uses lower-case hexadecimal digits";
        return false;
    }
    if (text == "00:00:00:00:00:00") {
        problem = "is all zeros";
        return false;
    }
    return true;
}

bool IsDigestText(std::string_view text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

std::string_view RequestTypeName(RequestType type) {
    switch (type) {
        case RequestType::GetInformation:
            return "GetInformation";
        case RequestType::ChangeMode:
            return "ChangeMode";
        case RequestType::Update:
            return "Update";
    }
    return "";
}

RequestDocumentReading ReadRequestDocument(std::string_view text) {
    RequestDocumentReading reading;
    if (!common::DecodeUtf8(text)) {
        reading.error = "request document is not valid UTF-8";
        return reading;
    }
    CDocumentCursor cursor(text);
    cursor.Expect("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n",
                  "the XML declaration and CR LF");
    cursor.Expect("<tesk-utility xmlns=\"", "the root start tag");
    cursor.Expect(kUtilityNamespace, "the utility namespace");
    cursor.Expect("\">", "the end of the root start tag");
    cursor.Expect("<mac-address>", "element");
    RequestDocument document;
    std::size_t macAt = cursor.Position();
    document.macAddress = cursor.ReadText('<', "mac-address");
    cursor.Expect("</mac-address>", "end tag");
    std::string problem;
    if (!cursor.Failed() && !IsMacAddress(document.macAddress, problem)) {
        cursor.Fail("MAC address \"" + document.macAddress + "\" at offset " +
                    std::to_string(macAt) + " " + problem);
    }
    cursor.Expect("<update>", "element");
    cursor.Expect("<request type=\"", "the request start tag");
    std::size_t typeAt = cursor.Position();
    std::string type = cursor.ReadText('"', "request type");
    cursor.Expect("\">", "the end of the request start tag");
    if (!cursor.Failed()) {
        reading.requestType = type;
    }
    if (cursor.Failed()) {
        // nothing more to learn
    } else if (type == "GetInformation") {
        document.type = RequestType::GetInformation;
        cursor.Expect("<get-information><model-name/></get-information>", "element");
        cursor.Expect("<get-information><version/></get-information>", "element");
        cursor.Expect("<get-information><status/></get-information>", "element");
        cursor.Expect("</request>", "end tag");
        cursor.Expect("</update>", "end tag");
        cursor.Expect("</tesk-utility>", "end tag");
    } else if (type == "ChangeMode" || type == "Update") {
        document.type = type == "Update" ? RequestType::Update : RequestType::ChangeMode;
        cursor.Expect("<after-version>", "element");
        document.afterVersion = cursor.ReadText('<', "after-version");
        cursor.Expect("</after-version>", "end tag");
        if (!cursor.Failed() && document.afterVersion.empty()) {
            cursor.Fail("after-version is empty");
        }
        cursor.Expect("</request>", "end tag");
        cursor.Expect("<file-digest value=\"", "element");
        std::size_t digestAt = cursor.Position();
        document.fileDigest = cursor.ReadText('"', "file-digest value");
        cursor.Expect("\"/>", "the end of the file-digest element");
        if (!cursor.Failed() && !IsDigestText(document.fileDigest)) {
            cursor.Fail("file-digest \"" + document.fileDigest + "\" at offset " +
                        std::to_string(digestAt) + " is not 32 lower-case hexadecimal digits");
        }
        cursor.Expect("</update>", "end tag");
        cursor.Expect("</tesk-utility>", "end tag");
    } else {
        cursor.Fail("unknown request type \"" + type + "\" at offset " + std::to_string(typeAt));
    }
    if (!cursor.Failed() && !cursor.AtEnd()) {
        cursor.Fail("document goes on after the root end tag at offset " +
                    std::to_string(cursor.Position()) + ": " + Excerpt(text, cursor.Position()));
    }
    if (cursor.Failed()) {
        reading.error = cursor.Error();
    } else {
        reading.document = std::move(document);
    }
    return reading;
}

}  // namespace talbo::tesk::vorta::devsim
