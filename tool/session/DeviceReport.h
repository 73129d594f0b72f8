#pragma once
// What a rollout did with each device, in the forms scripts and spreadsheets read: one JSON
// object per device and one for the run (JSON lines, "schema": 1), and a CSV file (RFC 4180,
// UTF-8, header row) with the same per-device fields. What a device reports (model, version,
// result texts built from its answers) is untrusted: the CSV never lets a spreadsheet take a
// field for a formula, and TerminalSafe keeps control characters off a terminal.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace talbo::tesk::vorta {

inline constexpr int kReportSchema = 1;

struct SDeviceReport {
    using TimePoint = std::chrono::system_clock::time_point;

    std::wstring host;
    std::wstring model;          // as its test read it; empty when none was read
    std::wstring versionBefore;  // likewise
    // The version the device reported after its rewrite; none when it was not rewritten or did
    // not report one.
    std::optional<std::wstring> versionAfter;
    int outcome = 0;          // the outcome class: the exit code a run of this device alone gives
    int resultCode = 0;       // the engine's final progress value (100 or a negative result code)
    std::wstring result;      // the result text, as the log and the device lines show it
    std::optional<int> wave;  // 1-based; none when the device never got into a wave
    std::optional<TimePoint> start;  // when its first test began
    std::optional<TimePoint> end;    // when its end was seen
    int testAttempts = 0;
};

struct SRunSummary {
    int devices = 0;
    // Devices per outcome class.
    int rewritten = 0;
    int sameVersion = 0;
    int newerSkipped = 0;
    int testFailed = 0;
    int rewriteFailed = 0;
    int startupFailed = 0;  // the image must not go to any device
    int wavesRun = 0;
    int wavesPlanned = 0;
    bool stopped = false;     // the stop rule or a signal ended the rollout early
    std::wstring stopReason;  // empty unless stopped
    double elapsedSeconds = 0;
    std::wstring toolVersion;
    std::wstring imageVersion;
    std::string imageSha256;
    bool dryRun = false;
    int exitCode = 0;
};

// A time as RFC 3339 in UTC with milliseconds ("2026-12-10T09:56:12.345Z").
std::string Rfc3339Utc(SDeviceReport::TimePoint time);

nlohmann::json DeviceJson(const SDeviceReport& device);
nlohmann::json SummaryJson(const SRunSummary& summary);
// One JSON line (no newline); text that is not valid UTF-8 comes out with U+FFFD in its place.
std::string JsonLine(const nlohmann::json& object);
std::string DeviceJsonLine(const SDeviceReport& device);
std::string SummaryJsonLine(const SRunSummary& summary);

// The CSV document: header row and one row per device, CR LF line ends.
std::string CsvReport(const std::vector<SDeviceReport>& devices);
// Writes the CSV document to path through a temporary file beside it, so that a reader never
// sees half a report; false with error set to an errno value when it could not be written.
bool WriteCsvReport(const std::filesystem::path& path, const std::vector<SDeviceReport>& devices,
                    int& error);

// One CSV field: quoted when it holds a comma, a quotation mark or a line break (quotation
// marks doubled); a text that starts with "=", "+", "-", "@", a tab or a carriage return is
// prefixed with an apostrophe first, so that no spreadsheet runs it as a formula.
std::string CsvTextField(const std::string& text);

// Text for a terminal: control characters (C0, DEL and C1) are shown escaped ("\x1b",
// "\u009b") and never sent raw; a backslash stays as it is.
std::wstring TerminalSafe(std::wstring_view text);

}  // namespace talbo::tesk::vorta
