// A host copies a value through GetValue while the job thread rewrites it. The host must never
// read freed or half-written memory; run this under ThreadSanitizer and AddressSanitizer.

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>

#include "engine/model/CDeviceValueTable.h"
#include "engine/model/CUpdateModel.h"

namespace talbo::tesk::vorta {
namespace {

TEST(DeviceValueTableTest, LentTextsSurviveOverwrites) {
    CDeviceValueTable table;
    table.Set(L"progress", L"1");
    table.Set(L"progress", L"2");  // never lent: overwritten in place
    EXPECT_EQ(table.RetiredCount(), 0U);

    const wchar_t* lent = table.Lend(L"progress");
    ASSERT_NE(lent, nullptr);
    table.Set(L"progress", L"2");  // the same text keeps the same storage
    EXPECT_EQ(table.Lend(L"progress"), lent);
    EXPECT_EQ(table.RetiredCount(), 0U);

    table.Set(L"progress", L"a much longer text than the lent one");
    EXPECT_STREQ(lent, L"2");
    EXPECT_STREQ(table.Lend(L"progress"), L"a much longer text than the lent one");
    EXPECT_EQ(table.RetiredCount(), 1U);
    EXPECT_EQ(table.Lend(L"absent"), nullptr);
    EXPECT_EQ(table.Find(L"absent"), nullptr);
}

TEST(UpdateModelValueRaceTest, HostCopiesWhileTheJobRewrites) {
    CUpdateModel model;
    CUpdateModelExport& host = model;
    ASSERT_TRUE(host.AddDevice(L"dev"));
    ASSERT_TRUE(model.SetDeviceValue(L"dev", L"progress", L"0"));
    CDevInfoIF* info = host.GetDeviceInfo(L"dev");
    ASSERT_NE(info, nullptr);

    constexpr int kWrites = 20000;
    std::atomic<bool> done{false};
    std::thread job([&] {
        for (int i = 1; i <= kWrites; ++i) {
            // Lengths change, so in-place reuse would show up as torn texts.
            const std::wstring value =
                std::to_wstring(i) + std::wstring(static_cast<std::size_t>(i % 40), L'%');
            model.SetDeviceValue(L"dev", L"progress", value);
        }
        done.store(true);
    });

    int reads = 0;
    int badCopies = 0;
    while (!done.load() || reads == 0) {
        const wchar_t* text = info->GetValue(L"progress");
        const std::wstring copy = text != nullptr ? std::wstring(text) : std::wstring();
        // Every text ever stored is digits followed by as many '%' as the number says.
        const std::size_t digits = copy.find(L'%');
        const std::wstring number = copy.substr(0, digits);
        const std::size_t marks = digits == std::wstring::npos ? 0 : copy.size() - digits;
        if (number.empty() || marks != static_cast<std::size_t>(std::stoi(number) % 40)) {
            ++badCopies;
        }
        ++reads;
    }
    job.join();

    EXPECT_EQ(badCopies, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(host.GetProgress(L"dev"), kWrites);
}

}  // namespace
}  // namespace talbo::tesk::vorta
