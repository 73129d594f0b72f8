#include "tool/cli/CCommandLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "common/Utf8.h"
#include "tests/tool/ShellArguments.h"

namespace tv = talbo::tesk::vorta;

namespace {

using shell::Args;

}  // namespace

// One device: [-d] HOST or HOST -d, each argument as given; anything left over or missing is
// refused with a line that names it, before any device is contacted.
TEST(CommandLine, SingleDeviceTakesItsArgumentsAsGiven) {
    struct Case {
        std::vector<std::wstring> arguments;
        const wchar_t* policy;
        const wchar_t* host;
        const wchar_t* error;  // a part of the error line; nullptr: valid
    };
    const Case cases[] = {
        {{L"device-1"}, L"skip", L"device-1", nullptr},
        {{L"-d", L"device-1"}, L"update", L"device-1", nullptr},
        {{L"device-1", L"-d"}, L"update", L"device-1", nullptr},
        // A blank inside an argument stays there, and makes no host name.
        {{L"device 1"}, L"skip", L"device 1", L"is not a host name"},
        {{L"a\tb"}, L"skip", L"a\tb", L"is not a host name"},
        {{L"127.0.0.010"}, L"skip", L"127.0.0.010", L"127.0.0.8"},  // octal to the HTTP library
        {{L"-D"}, L"skip", L"-D", nullptr},                         // the option is lower case only
        {{L"-d"}, L"update", L"", L"no host name"},
        {{L""}, L"skip", L"", L"no host name"},
        {{L"--json"}, L"skip", L"", L"no host name"},
        {{L"device-1", L"device-2"}, L"skip", L"device-1", L"@LIST"},
        {{L"-d", L"device-1", L"device-2"}, L"update", L"device-1", L"\"device-2\""},
        {{L"device-1", L"-d", L"-d"}, L"update", L"device-1", L"[-d] HOST"},
        {{L"-D", L"device-1"}, L"skip", L"-D", L"\"device-1\""},
        {{L"device-1", L"--report", L"r y.csv"}, L"skip", L"device-1", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.arguments.size() << " arguments, host "
                                        << tv::common::AsciiToNarrow(c.host));
        tv::CCommandLine line;
        line.Parse(c.arguments);
        EXPECT_EQ(line.GetPolicy(), c.policy);
        EXPECT_EQ(line.GetHostName(), c.host);
        const std::wstring& error = line.GetArgumentError();
        if (c.error == nullptr) {
            EXPECT_EQ(error, L"");
        } else {
            EXPECT_NE(error.find(c.error), std::wstring::npos) << tv::common::AsciiToNarrow(error);
        }
    }
    tv::CCommandLine line;
    line.Parse({L"device-1", L"--report", L"r y.csv"});
    EXPECT_EQ(line.GetOptions().reportFile, L"r y.csv");
}

// Which command lines are batches and what each makes of them. A batch is recognised only
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
        {L"-j64 -d @/srv/ab.txt", true, L"update", L"/srv/ab.txt", 64, true},
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
        {L"host-1 @f", false, L"skip", L"host-1", 0, false},
        {L"-d host-1 @f", false, L"update", L"host-1", 0, false},  // but one device is one name
        {L"host-1 -d @f", false, L"update", L"host-1", 0, false},
        {L"-j8", false, L"skip", L"-j8", 0, true},
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
        line.Parse(Args(c.text));
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
