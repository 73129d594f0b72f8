#include "tool/cli/CCommandLine.h"

#include <gtest/gtest.h>

#include "common/Utf8.h"

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

// Which argument texts are batches and what each makes of them. A batch is recognised only
// where the single-device grammar would have taken the "@" token for the host name.
TEST(CommandLine, BatchGrammar) {
    struct Case {
        const wchar_t* text;
        bool batch;
        const wchar_t* policy;
        const wchar_t* listOrHost;
        int devicesAtATime;
        bool valid;
    };
    const Case cases[] = {
        {L"@fleet.txt", true, L"skip", L"fleet.txt", 0, true},
        {L"-d @fleet.txt -j8", true, L"update", L"fleet.txt", 8, true},
        {L"-j64 -d @/srv/a b.txt", true, L"", L"", 0, false},  // a path cannot hold a blank
        {L"  -j1   @f  -d ", true, L"update", L"f", 1, true},
        {L"@f -j64", true, L"skip", L"f", 64, true},
        {L"@f -j0", true, L"skip", L"f", 0, false},
        {L"@f -j65", true, L"skip", L"f", 0, false},
        {L"@f -j08", true, L"skip", L"f", 0, false},
        {L"@f -j+8", true, L"skip", L"f", 0, false},
        {L"@f -j8x", true, L"skip", L"f", 0, false},
        {L"@f -j", true, L"skip", L"f", 0, false},
        {L"@f -j 8", true, L"skip", L"f", 0, false},
        {L"@f -d -d", true, L"update", L"f", 0, false},
        {L"@f -j2 -j3", true, L"skip", L"f", 2, false},
        {L"@f @g", true, L"skip", L"f", 0, false},
        {L"@f host-1", true, L"skip", L"f", 0, false},
        {L"@", true, L"skip", L"", 0, false},
        {L"@f -D", true, L"skip", L"f", 0, false},
        // The single-device grammar keeps every text in which a host name comes first.
        {L"host-1 @f", false, L"skip", L"host-1", 0, true},
        {L"-d host-1 @f", false, L"update", L"host-1", 0, true},
        {L"host-1 -d @f", false, L"update", L"host-1", 0, true},
        {L"-j8 host-1", false, L"skip", L"-j8", 0, true},
        // Rollout options come out first wherever they stand, with their values.
        {L"--waves 1,10% @f -j8 --max-failures 5% --json", true, L"skip", L"f", 8, true},
        {L"@f --report @g --dry-run --retry-busy 30", true, L"skip", L"f", 0, true},
        {L"--dry-run host-1 -d", false, L"update", L"host-1", 0, true},
        {L"@f --waves", true, L"skip", L"f", 0, false},
        {L"@f --waves 1,,2", true, L"skip", L"f", 0, false},
        {L"@f --waves 0", true, L"skip", L"f", 0, false},
        {L"@f --waves 101%", true, L"skip", L"f", 0, false},
        {L"@f --max-failures 0", true, L"skip", L"f", 0, false},
        {L"@f --retry-busy 1441", true, L"skip", L"f", 0, false},
        {L"@f --report --json", true, L"skip", L"f", 0, false},
        {L"@f --json --json", true, L"skip", L"f", 0, false},
        {L"@f --jobs 2", true, L"skip", L"f", 0, false},
        {L"--verbose host-1", false, L"skip", L"", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "\"" << tv::common::AsciiToNarrow(c.text) << "\"");
        tv::CCommandLine line;
        line.Parse(c.text);
        EXPECT_EQ(line.IsBatch(), c.batch);
        if (c.batch) {
            EXPECT_EQ(line.GetArgumentError().empty(), c.valid) << line.GetArgumentError().size();
            if (c.valid) {
                EXPECT_EQ(line.GetPolicy(), c.policy);
                EXPECT_EQ(line.GetListFile(), c.listOrHost);
                EXPECT_EQ(line.GetDevicesAtATime(), c.devicesAtATime);
            }
        } else if (!c.valid) {
            EXPECT_FALSE(line.GetArgumentError().empty());
        } else if (c.valid) {
            EXPECT_TRUE(line.GetArgumentError().empty());
            EXPECT_EQ(line.GetPolicy(), c.policy);
            EXPECT_EQ(line.GetHostName(), c.listOrHost);
        }
    }
}
