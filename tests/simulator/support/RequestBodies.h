#pragma once
// Request documents and multipart bodies as the client sends them, written here from the
// protocol's description on their own, so that the simulator is checked against an
// independent reading and not against its own code.

#include <cstdint>
#include <string>
#include <string_view>

namespace devsim_test {

inline constexpr std::string_view kNamespace = "http://www.talbo.com/schemas/2012/02/tesk-utility";
inline constexpr std::string_view kMac = "02:1A:2B:3C:4D:5E";

std::string GetInformationDocument(std::string_view mac = kMac);
std::string ChangeModeDocument(std::string_view afterVersion, std::string_view digest,
                               std::string_view mac = kMac);
std::string UpdateDocument(std::string_view afterVersion, std::string_view digest,
                           std::string_view mac = kMac);

// The three body pieces: head (up to the file data), the file data, tail.
struct Body {
    std::string head;
    std::string tail;
    std::string contentType;  // the value of the Content-type header
};

// With hasFile the head ends with the file part's headers, so head + file + tail is the body.
Body MakeBody(std::uint32_t boundary, std::string_view document, bool hasFile);

std::string Md5Hex(std::string_view bytes);

}  // namespace devsim_test
