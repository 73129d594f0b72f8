// Registration, device values, progress reading and the host-name iterator.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/model/CUpdateModel.h"
#include "tests/engine/model/ModelTestFiles.h"

namespace talbo::tesk::vorta {
namespace {

using vorta_test::ScopedEnv;

std::vector<std::wstring> AllHostNames(CUpdateModelExport& model) {
    std::vector<std::wstring> names;
    for (CHostNameIterator it = model.GetHostNameIterator(); it.Current() != nullptr; it.Next()) {
        names.emplace_back(it.Current());
    }
    return names;
}

class UpdateModelDeviceTest : public ::testing::Test {
protected:
    // Registration must see the defaults whatever the calling environment says.
    ScopedEnv firstWait{"VORTA_REBOOT_FIRST_WAIT_MS", std::nullopt};
    ScopedEnv retryWait{"VORTA_REBOOT_RETRY_WAIT_MS", std::nullopt};
    ScopedEnv retryMax{"VORTA_REBOOT_RETRY_MAX", std::nullopt};
    CUpdateModel model;
    CUpdateModelExport& host = model;
};

TEST_F(UpdateModelDeviceTest, AcceptsOnlyValidHostNames) {
    EXPECT_TRUE(host.AddDevice(std::wstring(254, L'a').c_str()));
    EXPECT_TRUE(host.AddDevice(L"127.0.0.1"));
    EXPECT_TRUE(host.AddDevice(L"Vorta-01.example.invalid"));

    const std::vector<std::wstring> invalid = {
        std::wstring(255, L'b'),
        L"",
        L"under_score",
        L"with space",
        L"fe80::1",
        L"caf\u00e9",
        L"tab\there",
        L"dev\u0430",  // Cyrillic a looks like a Latin one
    };
    for (const std::wstring& name : invalid) {
        EXPECT_FALSE(host.AddDevice(name.c_str()))
            << "accepted a bad name of length " << name.size();
    }
    EXPECT_FALSE(host.AddDevice(nullptr));
    EXPECT_EQ(AllHostNames(host), (std::vector<std::wstring>{std::wstring(254, L'a'), L"127.0.0.1",
                                                             L"Vorta-01.example.invalid"}));
}

TEST_F(UpdateModelDeviceTest, NamesAreExactAndUnique) {
    EXPECT_TRUE(host.AddDevice(L"Device"));
    EXPECT_TRUE(host.AddDevice(L"device"));
    EXPECT_TRUE(host.AddDevice(L"Device"));
    EXPECT_EQ(AllHostNames(host), (std::vector<std::wstring>{L"Device", L"device"}));
    EXPECT_EQ(host.GetDeviceInfo(L"DEVICE"), nullptr);
    EXPECT_NE(host.GetDeviceInfo(L"Device"), host.GetDeviceInfo(L"device"));
}

TEST_F(UpdateModelDeviceTest, RegistrationWritesTheDefaultValues) {
    ASSERT_TRUE(host.AddDevice(L"dev1"));
    CDevInfoIF* info = host.GetDeviceInfo(L"dev1");
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->GetValue(L"hostname"), L"dev1");
    EXPECT_STREQ(info->GetValue(L"update"), L"true");
    EXPECT_STREQ(info->GetValue(L"rebootfirstwait"), L"120000");
    EXPECT_STREQ(info->GetValue(L"rebootretrywait"), L"10000");
    EXPECT_STREQ(info->GetValue(L"rebootretrymax"), L"5");
    EXPECT_EQ(info->GetValue(L"progress"), nullptr);
    EXPECT_EQ(info->GetValue(L"Hostname"), nullptr);
    EXPECT_EQ(info->GetValue(nullptr), nullptr);
    EXPECT_EQ(host.GetProgress(L"dev1"), 0);
    EXPECT_EQ(host.GetDeviceInfo(nullptr), nullptr);
    EXPECT_EQ(host.GetDeviceInfo(L"dev2"), nullptr);
}

TEST_F(UpdateModelDeviceTest, EnvironmentOverridesTimingsAtEachRegistration) {
    {
        ScopedEnv first("VORTA_REBOOT_FIRST_WAIT_MS", "86400000");
        ScopedEnv wait("VORTA_REBOOT_RETRY_WAIT_MS", "0050");
        ScopedEnv max("VORTA_REBOOT_RETRY_MAX", "1000");
        ASSERT_TRUE(host.AddDevice(L"fast"));
    }
    EXPECT_EQ(model.GetDeviceValue(L"fast", L"rebootfirstwait"), L"86400000");
    EXPECT_EQ(model.GetDeviceValue(L"fast", L"rebootretrywait"), L"50");
    EXPECT_EQ(model.GetDeviceValue(L"fast", L"rebootretrymax"), L"1000");

    // Read again for the next registration: the defaults are back.
    ASSERT_TRUE(host.AddDevice(L"normal"));
    EXPECT_EQ(model.GetDeviceValue(L"normal", L"rebootfirstwait"), L"120000");
    // A later registration never changes an earlier device.
    EXPECT_EQ(model.GetDeviceValue(L"fast", L"rebootfirstwait"), L"86400000");
}

TEST_F(UpdateModelDeviceTest, BadTimingOverridesLeaveTheDefaults) {
    const std::vector<std::string> bad = {"",   "abc", "12a", "-5",       "+5",
                                          " 5", "5 ",  "1e3", "86400001", "99999999999999999999"};
    int index = 0;
    for (const std::string& text : bad) {
        ScopedEnv first("VORTA_REBOOT_FIRST_WAIT_MS", text);
        ScopedEnv wait("VORTA_REBOOT_RETRY_WAIT_MS", text);
        ScopedEnv max("VORTA_REBOOT_RETRY_MAX", text == "86400001" ? "1001" : text);
        const std::wstring name = L"dev" + std::to_wstring(index++);
        ASSERT_TRUE(host.AddDevice(name.c_str()));
        EXPECT_EQ(model.GetDeviceValue(name, L"rebootfirstwait"), L"120000") << text;
        EXPECT_EQ(model.GetDeviceValue(name, L"rebootretrywait"), L"10000") << text;
        EXPECT_EQ(model.GetDeviceValue(name, L"rebootretrymax"), L"5") << text;
    }
}

TEST_F(UpdateModelDeviceTest, DeviceValuesAndTheOfflineModelName) {
    ASSERT_TRUE(host.AddDevice(L"dev"));
    EXPECT_FALSE(model.SetDeviceValue(L"other", L"version", L"1"));
    EXPECT_EQ(model.GetDeviceValue(L"other", L"hostname"), L"");
    EXPECT_EQ(model.GetDeviceValue(L"dev", L"version"), L"");
    EXPECT_EQ(host.GetDeviceInfo(L"dev")->GetValue(L"version"), nullptr)
        << "reading must not create an entry";

    EXPECT_TRUE(model.SetDeviceValue(L"dev", L"modelname", L"VX-ARRAY-2"));
    EXPECT_EQ(model.GetDeviceValue(L"dev", L"modelname"), L"OFFLINE");
    EXPECT_TRUE(model.SetDeviceValue(L"dev", L"version", L"VX-ARRAY-2"));
    EXPECT_EQ(model.GetDeviceValue(L"dev", L"version"), L"VX-ARRAY-2");
    EXPECT_TRUE(model.SetDeviceValue(L"dev", L"modelname", L"VX-array"));
    EXPECT_EQ(model.GetDeviceValue(L"dev", L"modelname"), L"VX-array");
}

TEST_F(UpdateModelDeviceTest, UpdateTarget) {
    ASSERT_TRUE(host.AddDevice(L"dev"));
    EXPECT_TRUE(host.SetUpdateTarget(L"dev", false));
    EXPECT_STREQ(host.GetDeviceInfo(L"dev")->GetValue(L"update"), L"false");
    EXPECT_TRUE(host.SetUpdateTarget(L"dev", true));
    EXPECT_STREQ(host.GetDeviceInfo(L"dev")->GetValue(L"update"), L"true");
    EXPECT_FALSE(host.SetUpdateTarget(L"unknown", true));
    EXPECT_FALSE(host.SetUpdateTarget(nullptr, true));
}

TEST_F(UpdateModelDeviceTest, ProgressIsReadAsLeadingDecimal) {
    ASSERT_TRUE(host.AddDevice(L"dev"));
    const std::vector<std::pair<std::wstring, int>> cases = {
        {L"-16", -16},
        {L"42%", 42},
        {L"  \t 7", 7},
        {L"+99", 99},
        {L"abc", 0},
        {L"-", 0},
        {L"", 0},
        {L"12abc34", 12},
        {L"2147483647", INT_MAX},
        {L"99999999999999999999", INT_MAX},
        {L"-2147483648", INT_MIN},
        {L"-99999999999999999999", INT_MIN},
    };
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(model.SetDeviceValue(L"dev", L"progress", text));
        EXPECT_EQ(host.GetProgress(L"dev"), expected) << ::testing::PrintToString(text);
    }
    EXPECT_EQ(host.GetProgress(L"unknown"), -1);
    EXPECT_EQ(host.GetProgress(nullptr), -1);
}

TEST_F(UpdateModelDeviceTest, IteratorIsASnapshotWithIndependentClones) {
    EXPECT_EQ(host.GetHostNameIterator().Current(), nullptr);

    for (const wchar_t* name : {L"a1", L"b2", L"c3"}) {
        ASSERT_TRUE(host.AddDevice(name));
    }
    CHostNameIterator it = host.GetHostNameIterator();
    ASSERT_TRUE(host.AddDevice(L"d4"));  // not part of the snapshot

    it.Next();
    CHostNameIterator clone(it.Get()->Clone());
    EXPECT_STREQ(clone.Current(), L"b2");
    clone.Next();
    EXPECT_STREQ(clone.Current(), L"c3");
    EXPECT_STREQ(it.Current(), L"b2") << "the clone moved its original";

    it.Next().Next();
    EXPECT_EQ(it.Current(), nullptr);
    it.Next();
    EXPECT_EQ(it.Current(), nullptr);
    EXPECT_EQ(&it->Next(), it.Get());

    std::vector<std::wstring> list{L"kept"};
    model.GetHostNameList(list);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"kept", L"a1", L"b2", L"c3", L"d4"}));
}

TEST_F(UpdateModelDeviceTest, ConnectionTableHoldsTheLastConnectionMade) {
    ASSERT_TRUE(host.AddDevice(L"dev"));
    EXPECT_EQ(model.GetConnection(L"dev"), nullptr);
    CConnection* first = model.CreateUpdateConnection(L"dev");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(model.GetConnection(L"dev"), first);
    CConnection* second = model.CreateUpdateConnection(L"dev");
    EXPECT_EQ(model.GetConnection(L"dev"), second);
    EXPECT_EQ(model.GetConnection(L"other"), nullptr);
}

}  // namespace
}  // namespace talbo::tesk::vorta
