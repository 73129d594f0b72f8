// A host copies a value through GetValue while the job thread rewrites it. The host must never
// read freed or half-written memory: a lent text stays readable until the host starts its next
// job, when the texts retired meanwhile are freed. Run this under ThreadSanitizer and
// AddressSanitizer.

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

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

    // The job start frees what was retired; the current text, lent, stays where it is and
    // is retired in its turn when it is overwritten.
    const wchar_t* current = table.Lend(L"progress");
    table.Set(L"progress", L"3");
    table.Lend(L"progress");
    table.Set(L"progress", L"4");
    EXPECT_EQ(table.RetiredCount(), 3U);
    const wchar_t* latest = table.Lend(L"progress");
    table.ReleaseRetired();
    EXPECT_EQ(table.RetiredCount(), 0U);
    EXPECT_EQ(table.Lend(L"progress"), latest);
    EXPECT_STREQ(latest, L"4");
    EXPECT_NE(current, latest);
    table.Set(L"progress", L"5");
    EXPECT_STREQ(latest, L"4");
    EXPECT_EQ(table.RetiredCount(), 1U);
    table.ReleaseRetired();
    table.Set(L"progress", L"6");  // "5" was never lent: overwritten in place
    EXPECT_EQ(table.RetiredCount(), 0U);
    // A text lent before the job start is no longer read after it: overwritten in place.
    table.Lend(L"progress");
    table.ReleaseRetired();
    table.Set(L"progress", L"7");
    EXPECT_EQ(table.RetiredCount(), 0U);
}

// Every text the race tests store is digits followed by as many '%' as the number modulo 40;
// lengths change with every write, so reusing a lent text's storage would show up as torn copies.
std::wstring RaceText(int number) {
    return std::to_wstring(number) + std::wstring(static_cast<std::size_t>(number % 40), L'%');
}

bool IsRaceText(const wchar_t* text) {
    if (text == nullptr) {
        return false;
    }
    const std::wstring copy(text);
    const std::size_t digits = copy.find(L'%');
    const std::wstring number = copy.substr(0, digits);
    const std::size_t marks = digits == std::wstring::npos ? 0 : copy.size() - digits;
    return !number.empty() && number.size() <= 9 &&
           number.find_first_not_of(L"0123456789") == std::wstring::npos &&
           marks == static_cast<std::size_t>(std::stoi(number) % 40);
}

std::size_t RetiredCount(CDevInfoIF* info) {
    return static_cast<CUpdateModel::CDevInfoIFImpl*>(info)->Values().RetiredCount();
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
            model.SetDeviceValue(L"dev", L"progress", RaceText(i));
        }
        done.store(true);
    });

    int reads = 0;
    int badCopies = 0;
    while (!done.load() || reads == 0) {
        badCopies += IsRaceText(info->GetValue(L"progress")) ? 0 : 1;
        ++reads;
    }
    job.join();

    EXPECT_EQ(badCopies, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(host.GetProgress(L"dev"), kWrites);
}

// Jobs one after the other, started as the controller starts them: on the host's thread, the
// busy token taken, the texts retired by the last job freed, and only then the job's thread.
// The host follows the rule: any text lent during a job it may read until it starts the next
// one, and no longer. Every one of them must still read whole at the job's end, while the
// texts of earlier jobs are gone.
TEST(UpdateModelValueRaceTest, TextsLentDuringAJobStayUntilTheNextJobStarts) {
    CUpdateModel model;
    CUpdateModelExport& host = model;
    const std::vector<std::wstring> names{L"dev-a", L"dev-b"};
    std::vector<CDevInfoIF*> infos;
    for (const std::wstring& name : names) {
        ASSERT_TRUE(host.AddDevice(name.c_str()));
        ASSERT_TRUE(model.SetDeviceValue(name, L"progress", L"0"));
        infos.push_back(host.GetDeviceInfo(name.c_str()));
        ASSERT_NE(infos.back(), nullptr);
    }

    constexpr int kJobs = 40;
    constexpr int kWritesPerJob = 1000;
    constexpr std::size_t kKeptPerJob = 256;
    std::thread worker;
    std::atomic<bool> done{false};
    int badCopies = 0;
    int retiredAfterRelease = 0;
    int currentMoved = 0;
    std::size_t keptTexts = 0;
    for (int job = 0; job < kJobs; ++job) {
        // What the host holds from the last job: the current texts, which the release keeps.
        std::vector<const wchar_t*> current;
        for (CDevInfoIF* info : infos) {
            current.push_back(info->GetValue(L"progress"));
        }

        // The last job gives the token back as its last step, as the host's job state shows.
        while (!model.TryBeginBusy()) {
            std::this_thread::yield();
        }
        model.ReleaseRetiredValues();
        for (std::size_t i = 0; i < infos.size(); ++i) {
            retiredAfterRelease += static_cast<int>(RetiredCount(infos[i]));
            currentMoved += infos[i]->GetValue(L"progress") == current[i] ? 0 : 1;
            badCopies += IsRaceText(current[i]) ? 0 : 1;
        }
        if (worker.joinable()) {
            worker.join();
        }
        done.store(false);
        worker = std::thread([&, job] {
            for (int i = 1; i <= kWritesPerJob; ++i) {
                for (const std::wstring& name : names) {
                    model.SetDeviceValue(name, L"progress", RaceText(job * kWritesPerJob + i));
                }
            }
            done.store(true);
            model.EndBusy();
        });

        std::vector<const wchar_t*> lent;  // texts lent during this job, read again at its end
        while (!done.load()) {
            for (CDevInfoIF* info : infos) {
                const wchar_t* text = info->GetValue(L"progress");
                badCopies += IsRaceText(text) ? 0 : 1;
                if (lent.size() < kKeptPerJob) {
                    lent.push_back(text);
                }
            }
        }
        for (const wchar_t* text : lent) {
            badCopies += IsRaceText(text) ? 0 : 1;
        }
        keptTexts += lent.size();
    }
    worker.join();

    EXPECT_EQ(badCopies, 0);
    EXPECT_EQ(retiredAfterRelease, 0);
    EXPECT_EQ(currentMoved, 0);
    EXPECT_GT(keptTexts, 0U);
    EXPECT_EQ(host.GetProgress(L"dev-b"), kJobs * kWritesPerJob);
}

}  // namespace
}  // namespace talbo::tesk::vorta
