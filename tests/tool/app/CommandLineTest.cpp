#include "tool/app/CCommandLine.h"

#include <gtest/gtest.h>

namespace tv = talbo::tesk::vorta;

namespace {

std::pair<std::wstring, std::wstring> ParseOf(const wchar_t* text) {
    tv::CCommandLine line;
    line.Parse(text);
    return {line.GetPolicy(), line.GetHostName()};
}

}  // namespace

TEST(CommandLine, OptionBeforeOrAfterTheHostNameAndBlanksOnly) {
    using P = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(ParseOf(L"device-1"), (P{L"skip", L"device-1"}));
    EXPECT_EQ(ParseOf(L"-d device-1"), (P{L"update", L"device-1"}));
    EXPECT_EQ(ParseOf(L"   device-1    -d  extra"), (P{L"update", L"device-1"}));
    EXPECT_EQ(ParseOf(L"-d"), (P{L"update", L""}));
    EXPECT_EQ(ParseOf(L"-D device-1"), (P{L"skip", L"-D"}));  // the option is lower case only
    EXPECT_EQ(ParseOf(L"\"a b\""), (P{L"skip", L"\"a"}));     // quotes are not interpreted
    EXPECT_EQ(ParseOf(L"a\tb"), (P{L"skip", L"a\tb"}));       // only the blank separates
}
