#include <gtest/gtest.h>

#include <string>

#include "engine/model/CMD5Digest.h"

namespace tv = talbo::tesk::vorta;

namespace {

tv::ByteSequence Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(MD5Digest, MatchesTheReferenceValues) {
    // The test suite of RFC 1321.
    const std::pair<std::string, std::wstring> cases[] = {
        {"", L"d41d8cd98f00b204e9800998ecf8427e"},
        {"a", L"0cc175b9c0f1b6a831c399e269772661"},
        {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", L"f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", L"c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         L"d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         L"57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(tv::MakeDigestText(Bytes(input)), expected);
        EXPECT_EQ(tv::CMD5Digest(Bytes(input)).GetText(), expected);
    }
}

TEST(MD5Digest, KeepsLeadingZerosOfEachByte) {
    // A digest whose first four bytes are zero.
    const std::wstring text = tv::MakeDigestText(Bytes("jk8ssl"));
    EXPECT_EQ(text, L"0000000018e6137ac2caab16074784a6");
}

}  // namespace
