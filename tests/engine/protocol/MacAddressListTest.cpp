#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/Utf8.h"
#include "engine/protocol/MacAddressList.h"

namespace talbo::tesk::vorta {
namespace {

using Rows = std::vector<CInterfaceRow>;

std::vector<std::wstring> Collect(const Rows& rows) {
    std::vector<std::wstring> list{L"stale entry"};
    CollectMacAddresses(rows, list);
    return list;
}

TEST(MacAddressList, FormatsTheFirstSixBytesInUpperCase) {
    EXPECT_EQ(std::vector<std::wstring>{L"00:0A:B0:C1:D2:EF"},
              Collect({{{0x00, 0x0A, 0xB0, 0xC1, 0xD2, 0xEF}}}));
    // Whatever the stated length: longer addresses are cut, shorter ones filled with zeros.
    EXPECT_EQ(std::vector<std::wstring>{L"01:02:03:04:05:06"},
              Collect({{{1, 2, 3, 4, 5, 6, 7, 8}}}));
    EXPECT_EQ(std::vector<std::wstring>{L"01:02:03:04:00:00"}, Collect({{{1, 2, 3, 4}}}));
}

TEST(MacAddressList, SkipsZeroAddressesAndDuplicatesAndKeepsTableOrder) {
    EXPECT_TRUE(Collect({}).empty());
    EXPECT_TRUE(Collect({{{0, 0, 0, 0, 0, 0}}, {{}}, {{0, 0, 0, 0, 0, 0, 9}}}).empty());
    EXPECT_EQ((std::vector<std::wstring>{L"66:00:00:00:00:01", L"02:00:00:00:00:02"}),
              Collect({{{0, 0, 0, 0, 0, 0}},
                       {{0x66, 0, 0, 0, 0, 1}},
                       {{2, 0, 0, 0, 0, 2}},
                       {{0x66, 0, 0, 0, 0, 1}}}));
}

TEST(MacAddressList, ReadsTheTableTheSeamSupplies) {
    std::vector<std::wstring> list{L"stale"};
    const InterfaceTableReader previous = SetInterfaceTableReader([](Rows& rows) {
        rows = {{{0, 0, 0, 0, 0, 0}}, {{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}}};
        return true;
    });
    GetMacAddressList(list);
    EXPECT_EQ(std::vector<std::wstring>{L"AA:BB:CC:DD:EE:FF"}, list);

    SetInterfaceTableReader([](Rows& rows) {
        rows = {{{1, 2, 3, 4, 5, 6}}};
        return false;
    });
    GetMacAddressList(list);
    EXPECT_TRUE(list.empty()) << "no table, no addresses";
    SetInterfaceTableReader(previous);
}

// The kernel's own view of the interfaces, in interface-index order.
std::vector<std::wstring> AddressesFromSysfs() {
    std::map<int, std::string> byIndex;
    const std::filesystem::path root = "/sys/class/net";
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        int index = 0;
        std::string address;
        std::ifstream(entry.path() / "ifindex") >> index;
        std::ifstream(entry.path() / "address") >> address;
        std::transform(address.begin(), address.end(), address.begin(), ::toupper);
        byIndex[index] = address.substr(0, 17);
    }
    std::vector<std::wstring> list;
    for (const auto& [index, address] : byIndex) {
        const std::wstring text = common::BytesToWide(address);
        if (text.size() == 17 && text != L"00:00:00:00:00:00" &&
            std::find(list.begin(), list.end(), text) == list.end()) {
            list.push_back(text);
        }
    }
    return list;
}

TEST(MacAddressList, PlatformTableFollowsTheInterfaceIndexOrder) {
    if (!std::filesystem::exists("/sys/class/net")) {
        GTEST_SKIP() << "no sysfs";
    }
    std::vector<std::wstring> list;
    GetMacAddressList(list);
    EXPECT_EQ(AddressesFromSysfs(), list);
}

}  // namespace
}  // namespace talbo::tesk::vorta
