#include "tool/cli/CResultLog.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/IniFile.h"

namespace tv = talbo::tesk::vorta;
namespace vc = talbo::tesk::vorta::common;
namespace fs = std::filesystem;

class ResultLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = fs::temp_directory_path() /
               ("vorta-log-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove(path);
    }
    void TearDown() override {
        fs::remove(path);
        fs::remove(tv::CResultLog::LockPath(path));
    }
    std::wstring Value(const wchar_t* section, const wchar_t* key) const {
        const auto file = vc::IniFile::Load(path);
        return file ? file->Document().Get(section, key).value_or(L"<none>") : L"<no file>";
    }
    fs::path path;
};

TEST_F(ResultLogTest, NumbersRunsPerDayAndRestartsOnTheNextDay) {
    tv::CResultLog::WriteDated(path, 0, L"Success", L"2013/05/21");
    tv::CResultLog::WriteDated(path, -200, L"Failed to communicate.", L"2013/05/21");
    tv::CResultLog::WriteDated(path, 2, L"Version Down", L"2013/05/21");
    EXPECT_EQ(Value(L"LAST_POS", L"DATE"), L"2013/05/21");
    EXPECT_EQ(Value(L"LAST_POS", L"NO"), L"002");
    EXPECT_EQ(Value(L"2013/05/21-000", L"Result"), L"0");
    EXPECT_EQ(Value(L"2013/05/21-001", L"Result"), L"-200");
    EXPECT_EQ(Value(L"2013/05/21-001", L"Detail"), L"Failed to communicate.");
    EXPECT_EQ(Value(L"2013/05/21-002", L"Detail"), L"Version Down");

    tv::CResultLog::WriteDated(path, 1, L"", L"2013/05/22");
    EXPECT_EQ(Value(L"LAST_POS", L"NO"), L"000");
    EXPECT_EQ(Value(L"2013/05/22-000", L"Result"), L"1");
    EXPECT_EQ(Value(L"2013/05/21-000", L"Result"), L"0");  // older records stay
}

TEST_F(ResultLogTest, WrapsAfter999AndOverwritesThatDaysFirstRecord) {
    tv::CResultLog::WriteDated(path, 0, L"first", L"2013/05/21");
    ASSERT_TRUE(vc::ReplaceFileAtomically(path,
                                          "[LAST_POS]\r\nDATE=2013/05/21\r\nNO=999\r\n[2013/05/"
                                          "21-000]\r\nResult=0\r\nDetail=first\r\n"
                                          "device-1=0 Success\r\n[2013/05/21-001]\r\n"
                                          "Result=1\r\n"));
    tv::CResultLog::WriteDated(path, -100, L"again", L"2013/05/21");
    EXPECT_EQ(Value(L"LAST_POS", L"NO"), L"000");
    EXPECT_EQ(Value(L"2013/05/21-000", L"Result"), L"-100");
    EXPECT_EQ(Value(L"2013/05/21-000", L"Detail"), L"again");
    // The older batch's device key must not pass for a result of the new run.
    EXPECT_EQ(Value(L"2013/05/21-000", L"device-1"), L"<none>");
    EXPECT_EQ(Value(L"2013/05/21-001", L"Result"), L"1");
}

// A batch's section: Result and Detail first, then the image's digest, then one key per device
// in the order given. A device named like one of the run's own keys (in any letter case, as
// the reader matches keys) gets its key with a trailing dot, which names the same device, so
// that it neither hides the run's key nor is hidden by it.
TEST_F(ResultLogTest, BatchSectionHasAKeyPerDevice) {
    const std::string digest(64, 'e');
    tv::CResultLog::WriteDated(path, -200, L"Failed to rewrite - printing.", L"2013/05/21",
                               tv::CResultLog::WithImageDigest(
                                   digest, {{L"device-1", L"0 Success"},
                                            {L"printer-2", L"-200 Failed to rewrite - printing."},
                                            {L"result", L"1 Success - no need to rewrite"},
                                            {L"DETAIL", L"0 Success"},
                                            {L"imagesha256", L"-100 Failed to communicate."}}));
    EXPECT_EQ(Value(L"2013/05/21-000", L"Result"), L"-200");
    EXPECT_EQ(Value(L"2013/05/21-000", L"Detail"), L"Failed to rewrite - printing.");
    EXPECT_EQ(Value(L"2013/05/21-000", L"ImageSHA256"), std::wstring(64, L'e'));
    EXPECT_EQ(Value(L"2013/05/21-000", L"device-1"), L"0 Success");
    EXPECT_EQ(Value(L"2013/05/21-000", L"printer-2"), L"-200 Failed to rewrite - printing.");
    EXPECT_EQ(Value(L"2013/05/21-000", L"result."), L"1 Success - no need to rewrite");
    EXPECT_EQ(Value(L"2013/05/21-000", L"DETAIL."), L"0 Success");
    EXPECT_EQ(Value(L"2013/05/21-000", L"imagesha256."), L"-100 Failed to communicate.");
    const auto text = vc::ReadWholeFile(path);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("Detail=Failed to rewrite - printing.\r\nImageSHA256=" + digest +
                         "\r\ndevice-1=0 Success\r\n"),
              std::string::npos)
        << *text;
    // Without a recorded digest a record has no such key rather than an empty one, and a
    // device of that name still does not pass for one.
    tv::CResultLog::WriteDated(
        path, 0, L"Success", L"2013/05/21",
        tv::CResultLog::WithImageDigest({}, {{L"ImageSHA256", L"0 Success"}}));
    EXPECT_EQ(Value(L"2013/05/21-001", L"ImageSHA256"), L"<none>");
    EXPECT_EQ(Value(L"2013/05/21-001", L"ImageSHA256."), L"0 Success");
}

TEST_F(ResultLogTest, ConcurrentWritersNeverLoseARecord) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < 10; ++i) {
                tv::CResultLog::WriteDated(path, t, L"x", L"2020/01/01");
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    EXPECT_EQ(Value(L"LAST_POS", L"NO"), L"039");
    EXPECT_EQ(Value(L"2020/01/01-039", L"Detail"), L"x");
}

TEST(ResultLogToday, HasTheDateForm) {
    const std::wstring today = tv::CResultLog::Today();
    ASSERT_EQ(today.size(), 10u);
    EXPECT_EQ(today[4], L'/');
    EXPECT_EQ(today[7], L'/');
}
