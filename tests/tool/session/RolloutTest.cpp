// The rollout's rules that need no device: the one classification table, wave sizes, the stop
// rule's limit, the reports' escaping of what devices say, and how a report file is written.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "common/IniFile.h"
#include "engine/interface/ResultCodes.h"
#include "tool/app/CUIStringTable.h"
#include "tool/session/DeviceReport.h"
#include "tool/session/RolloutOptions.h"
#include "tool/session/RunOutcome.h"

namespace tv = talbo::tesk::vorta;
using tv::EEndPhase;

TEST(Rollout, EveryEndHasOneClassAndText) {
    tv::CUIStringTable& table = tv::CUIStringTable::GetInstance();
    table.LoadDefaults();
    ASSERT_TRUE(table.LoadFile(std::filesystem::path(VORTA_SOURCE_DIR) / "tool" / "resources" /
                               "en" / "ui.lng"));
    const struct {
        EEndPhase phase;
        int progress;
        int exitCode;
        std::wstring text;
        bool busy;
    } rows[] = {
        {EEndPhase::Test, 100, 0, table.GetText(L"STR-001"), false},
        {EEndPhase::Test, -3, -100, table.GetResultText(-3), false},
        {EEndPhase::Test, -4, -100, table.GetResultText(-4), true},  // another tool rewrites it
        {EEndPhase::Test, -5, -100, table.GetResultText(-5), true},
        {EEndPhase::Test, -6, -100, table.GetResultText(-6), true},
        {EEndPhase::Test, -18, -100, table.GetResultText(-18), true},
        {EEndPhase::Test, -14, -100, table.GetResultText(-14), false},
        {EEndPhase::Rewrite, 100, 0, table.GetText(L"STR-001"), false},
        {EEndPhase::Rewrite, -2, 1, table.GetText(L"STR-002"), false},
        {EEndPhase::Rewrite, -16, 2, table.GetText(L"STR-003"), false},
        {EEndPhase::Rewrite, -20, -200, table.GetText(L"STR-020"), false},  // never started
        {EEndPhase::Rewrite, -5, -200, table.GetResultText(-5), true},
        {EEndPhase::Rewrite, -19, -200, table.GetResultText(-19), false},
        {EEndPhase::Rewrite, -1, -200, table.GetResultText(-1), false},  // unknown host
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(row.phase) << " " << row.progress);
        const tv::SRunOutcome outcome = tv::ClassifyEnd(row.phase, row.progress);
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_EQ(outcome.detail, row.text);
        EXPECT_FALSE(outcome.detail.empty());
        EXPECT_EQ(tv::IsBusyResult(row.progress), row.busy);
    }
}

TEST(Rollout, WaveSizesAndFailureLimits) {
    using Shares = std::vector<tv::SDeviceShare>;
    const Shares canary = {{1, false}, {10, true}, {100, true}};
    const struct {
        Shares waves;
        int total;
        std::vector<int> sizes;
    } rows[] = {
        {canary, 64, {1, 6, 57}},  // 10% of 64 rounds up to 7
        {canary, 1, {1}},          // later entries add nobody
        {canary, 0, {}},
        {{{1, false}, {10, true}}, 64, {1, 6, 57}},  // the rest is a last wave
        {{{5, false}, {3, false}, {20, false}}, 12, {5, 7}},
        {{{50, true}}, 3, {2, 1}},
        {{}, 9, {9}},  // no waves: one job
    };
    for (const auto& row : rows) {
        EXPECT_EQ(tv::WaveSizes(row.waves, row.total), row.sizes) << row.total;
    }

    const struct {
        std::optional<tv::SDeviceShare> maxFailures;
        bool waves;
        int total;
        int limit;
    } limits[] = {
        {std::nullopt, false, 64, 0},  // never
        {std::nullopt, true, 64, 1},   // a failed canary stops a rollout in waves
        {tv::SDeviceShare{2, false}, false, 64, 2},
        {tv::SDeviceShare{5, true}, true, 64, 4},
        {tv::SDeviceShare{5, true}, false, 3, 1},  // at least one
    };
    for (const auto& row : limits) {
        tv::SRolloutOptions options;
        options.maxFailures = row.maxFailures;
        if (row.waves) {
            options.waves = canary;
        }
        EXPECT_EQ(tv::FailureLimit(options, row.total), row.limit) << row.total;
    }
}

TEST(Rollout, ReportsKeepWhatDevicesSayFromActing) {
    const struct {
        std::string text;
        std::string field;
    } csv[] = {
        {"QX-Vorta-1000", "QX-Vorta-1000"},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"a,b", "\"a,b\""},
        {"line\nbreak", "\"line\nbreak\""},
        {"", ""},
    };
    for (const auto& row : csv) {
        EXPECT_EQ(tv::CsvTextField(row.text), row.field) << row.text;
    }
    EXPECT_EQ(tv::TerminalSafe(L"Ver\x1b[2J\x9b\x7f\\ok"), L"Ver\\x1b[2J\\u009b\\x7f\\ok");

    tv::SDeviceReport device;
    device.host = L"d-1.invalid";
    device.model = L"=cmd";
    device.versionBefore = L"Ver.3.00TC";
    device.versionAfter = L"Ver.3.01TC";
    device.outcome = 0;
    device.resultCode = 100;
    device.result = L"Success";
    device.wave = 2;
    device.start = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765360572345));
    device.testAttempts = 3;
    const nlohmann::json json = nlohmann::json::parse(tv::DeviceJsonLine(device));
    EXPECT_EQ(json["schema"], 1);
    EXPECT_EQ(json["type"], "device");
    EXPECT_EQ(json["model"], "=cmd");  // JSON readers run nothing; only the CSV is guarded
    EXPECT_EQ(json["version_after"], "Ver.3.01TC");
    EXPECT_EQ(json["wave"], 2);
    EXPECT_EQ(json["start"], "2025-12-10T09:56:12.345Z");
    EXPECT_TRUE(json["end"].is_null());
    EXPECT_EQ(json["test_attempts"], 3);
    EXPECT_EQ(tv::CsvReport({device}),
              "host,model,version_before,version_after,outcome,result_code,result,wave,start,end,"
              "test_attempts\r\n"
              "d-1.invalid,'=cmd,Ver.3.00TC,Ver.3.01TC,0,100,Success,2,2025-12-10T09:56:12.345Z,,"
              "3\r\n");
}

// A symbolic link planted where the report's temporary file goes, or at the report's own name,
// never lets the report overwrite the file it points to.
TEST(Rollout, CsvReportIsNeverWrittenThroughALink) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vorta-report-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    tv::SDeviceReport device;
    device.host = L"d-1.invalid";
    const std::string csv = tv::CsvReport({device});
    const fs::path report = dir / "floor3.csv";
    const fs::path victim = dir / "victim";
    const struct {
        const char* name;
        fs::path link;
    } cases[] = {
        {"at the temporary name", fs::path(report.string() + ".tmp" + std::to_string(::getpid()))},
        {"at the report's name", report},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(report);
        ASSERT_TRUE(tv::common::ReplaceFileAtomically(victim, "keep"));
        fs::create_symlink(victim, c.link);
        int error = 0;
        ASSERT_TRUE(tv::WriteCsvReport(report, {device}, error)) << std::strerror(error);
        EXPECT_EQ(*tv::common::ReadWholeFile(victim), "keep");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(report)));
        EXPECT_EQ(*tv::common::ReadWholeFile(report), csv);
        fs::remove(c.link);
    }
    fs::remove_all(dir);
}
