#include "common/DeviceListFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace vc = talbo::tesk::vorta::common;
namespace fs = std::filesystem;

// The line a refused list is refused for is the one the operator has to mend: counted from 1
// over every line, empty ones and CR LF ends included.
TEST(DeviceListFile, NamesTheFirstBadLine) {
    struct Case {
        std::string content;
        std::size_t badLine;
        std::size_t names;
    };
    const Case cases[] = {
        {"a\r\n\r\nb\n", 0, 2},
        {"a\nb", 0, 2},
        {"a\n\nb c\nd e\n", 3, 0},
        {"a\r\nb\r\n\r\nbad_name\r\n", 4, 0},
        {"a\n" + std::string(255, 'x') + "\n", 2, 0},
        {std::string(254, 'x') + "\r\n", 0, 1},
        {"a\nlast\r", 2, 0},  // a carriage return without a line feed is a character
        {"\n\n", 0, 0},
    };
    const fs::path path = fs::temp_directory_path() / ("vorta-list-" + std::to_string(::getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 40));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
        const vc::DeviceList list = vc::ReadDeviceList(path);
        EXPECT_EQ(list.readError, 0);
        EXPECT_EQ(list.badLine, c.badLine);
        EXPECT_EQ(list.names.size(), c.names);
        EXPECT_EQ(list.Accepted(), c.badLine == 0 && c.names > 0);
    }
    fs::remove(path);
    EXPECT_EQ(vc::ReadDeviceList(path).readError, ENOENT);
    EXPECT_FALSE(vc::ReadDeviceList(path).Accepted());
}

// The tool's reading forgives what editors and spreadsheets add (a byte order mark, blanks,
// lines of blanks) but nothing that changes a name, and numbers every name by its line.
TEST(DeviceListFile, OperatorReadingSkipsBomAndBlanksAndRefusesNumericSpellings) {
    using Names = std::vector<vc::NumberedName>;
    struct Case {
        std::string content;
        Names names;
        std::size_t badLine;
        std::wstring badName;
    };
    const std::string bom = "\xEF\xBB\xBF";
    const std::string longName(254, 'x');
    const Case cases[] = {
        {bom + "a \r\n\t\r\n \tb\t \n", {{L"a", 1}, {L"b", 3}}, 0, L""},
        {"a\n" + bom + "b\n",
         {},
         2,
         L"\xEF\xBB\xBF"
         L"b"},  // a mark inside is a character
        {"\xEF\xBB"
         "a\n",
         {},
         1,
         L"\xEF\xBB"
         L"a"},  // half a mark too
        {bom, {}, 0, L""},
        {" " + longName + std::string(300, ' ') + "\r\n", {{std::wstring(254, L'x'), 1}}, 0, L""},
        {"a\n" + longName + "yz\n", {}, 2, std::wstring(254, L'x') + L"y"},  // cut short
        {"a\n b c \n", {}, 2, L"b c"},
        {"a\r \n", {}, 1, L"a\r"},  // a carriage return that is not right before the LF
        {"a\nlast\r", {}, 2, L"last\r"},
        {"a\n\n127.0.0.010\nbad name\n", {}, 3, L"127.0.0.010"},
        {"a\nA.\n", {{L"a", 1}, {L"A.", 2}}, 0, L""},  // duplicates are for the caller to judge
    };
    const fs::path path =
        fs::temp_directory_path() / ("vorta-operator-list-" + std::to_string(::getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 40));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
        const vc::OperatorDeviceList list = vc::ReadOperatorDeviceList(path);
        EXPECT_EQ(list.readError, 0);
        EXPECT_EQ(list.names, c.names);
        EXPECT_EQ(list.badLine, c.badLine);
        EXPECT_EQ(list.badName, c.badName);
        EXPECT_EQ(list.problem.empty(), c.badLine == 0);
    }
    // The engine's own reading stays strict.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bom + "a\r\n";
    EXPECT_TRUE(vc::ReadOperatorDeviceList(path).Accepted());
    EXPECT_EQ(vc::ReadDeviceList(path).badLine, 1U);
    fs::remove(path);
    EXPECT_EQ(vc::ReadOperatorDeviceList(path).readError, ENOENT);
}
