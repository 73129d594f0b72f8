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
