// Importing a device list file: all names or none.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/model/CUpdateModel.h"
#include "tests/engine/model/ModelTestFiles.h"

namespace talbo::tesk::vorta {
namespace {

class UpdateModelListFileTest : public ::testing::Test {
protected:
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        model.GetHostNameList(names);
        return names;
    }
    bool Import(const std::string& content) {
        return host.ImportDeviceList(dir.Write("list.txt", content).c_str());
    }

    vorta_test::ScopedTempDir dir;
    CUpdateModel model;
    CUpdateModelExport& host = model;
};

TEST_F(UpdateModelListFileTest, RegistersNamesInFileOrderSkippingEmptyLines) {
    ASSERT_TRUE(host.AddDevice(L"known"));
    EXPECT_TRUE(Import("first\n\nknown\r\nsecond\r\n\r\nfirst\nlast"));
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"known", L"first", L"second", L"last"}));
    EXPECT_EQ(model.GetDeviceValue(L"second", L"update"), L"true");
}

TEST_F(UpdateModelListFileTest, OneBadLineRegistersNothing) {
    const std::vector<std::string> bad = {
        "good\nwith space\nother\n",
        "good\n\tgood2\n",
        "good\n" + std::string(255, 'x') + "\n",
        "good\nfe80::1\n",
        "good\ncaf\xE9\n",       // a single-byte letter outside ASCII
        "good\nlone\rreturn\n",  // a carriage return not before a line feed
        "good\r",                // ... also at the very end
        std::string("good\n\0\n", 7),
    };
    for (const std::string& content : bad) {
        EXPECT_FALSE(Import(content)) << ::testing::PrintToString(content);
    }
    EXPECT_TRUE(Names().empty());
}

TEST_F(UpdateModelListFileTest, LongestNameIsAcceptedWithOrWithoutCarriageReturn) {
    const std::string a(254, 'a');
    const std::string b(254, 'b');
    EXPECT_TRUE(Import(a + "\r\n" + b));
    EXPECT_EQ(Names(),
              (std::vector<std::wstring>{std::wstring(254, L'a'), std::wstring(254, L'b')}));
}

TEST_F(UpdateModelListFileTest, EmptyMissingOrUnreadableFilesFail) {
    EXPECT_FALSE(Import(""));
    EXPECT_FALSE(Import("\n\r\n\n"));
    EXPECT_FALSE(host.ImportDeviceList((dir.Path() / "absent.txt").wstring().c_str()));
    EXPECT_FALSE(host.ImportDeviceList(dir.Path().wstring().c_str()));  // a folder
    EXPECT_FALSE(host.ImportDeviceList(L""));
    EXPECT_FALSE(host.ImportDeviceList(nullptr));
    EXPECT_TRUE(Names().empty());
}

TEST_F(UpdateModelListFileTest, BusyModelRegistersNothing) {
    ASSERT_TRUE(model.TryBeginBusy());
    EXPECT_FALSE(Import("dev1\ndev2\n"));
    ASSERT_TRUE(model.EndBusy());
    EXPECT_TRUE(Names().empty());
}

}  // namespace
}  // namespace talbo::tesk::vorta
