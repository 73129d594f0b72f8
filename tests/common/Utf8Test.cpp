#include "common/Utf8.h"

#include <gtest/gtest.h>

namespace vc = talbo::tesk::vorta::common;

TEST(Utf8, RoundTripsEveryLengthClass) {
    const std::wstring text = L"A\u00e9\u3042\U0001F600z";
    const auto bytes = vc::EncodeUtf8(text);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, "A\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80z");
    EXPECT_EQ(vc::DecodeUtf8(*bytes), text);
    EXPECT_EQ(vc::DecodeUtf8(std::string_view{}), std::wstring{});
}

TEST(Utf8, RejectsMalformedInputInsteadOfReplacingIt) {
    for (const char* bad : {
             "\xC0\xAF",          // overlong '/'
             "\xE0\x80\xAF",      // overlong, three bytes
             "\xF0\x80\x80\xAF",  // overlong, four bytes
             "\xED\xA0\x80",      // surrogate U+D800
             "\xF4\x90\x80\x80",  // above U+10FFFF
             "\xE3\x81",          // cut sequence
             "\x80",              // lone continuation byte
             "\xFF",              // never a lead byte
             "a\xC3(b",           // bad continuation
         }) {
        EXPECT_FALSE(vc::DecodeUtf8(std::string_view(bad))) << "accepted: " << bad;
    }
}

TEST(Utf8, EncodeRefusesCodePointsUtf8CannotHold) {
    EXPECT_FALSE(vc::EncodeUtf8(std::wstring(1, static_cast<wchar_t>(0xDC00))));
    EXPECT_FALSE(vc::EncodeUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))));
    EXPECT_TRUE(vc::EncodeUtf8(std::wstring(1, static_cast<wchar_t>(0x10FFFF))));
}

TEST(Utf8, SingleByteAndAsciiHelpers) {
    EXPECT_EQ(vc::BytesToWide("a\xFF"), std::wstring(L"a\u00ff"));
    EXPECT_TRUE(vc::IsAscii(L"host-1.example"));
    EXPECT_FALSE(vc::IsAscii(L"h\u00e9"));
    EXPECT_EQ(vc::AsciiToNarrow(L"ab\u00e9"), "ab?");
}
