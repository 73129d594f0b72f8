#include "tool/session/DeviceReport.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "common/Utf8.h"

namespace talbo::tesk::vorta {

namespace {

// Device texts are wide; a character UTF-8 cannot carry (a lone surrogate) becomes U+FFFD.
std::string Utf8(std::wstring_view text) {
    if (std::optional<std::string> encoded = common::EncodeUtf8(text)) {
        return *std::move(encoded);
    }
    std::string out;
    for (const wchar_t c : text) {
        const wchar_t one[] = {c, L'\0'};
        out += common::EncodeUtf8(one).value_or("\xEF\xBF\xBD");
    }
    return out;
}

nlohmann::json OptionalText(const std::optional<std::wstring>& text) {
    return text ? nlohmann::json(Utf8(*text)) : nlohmann::json(nullptr);
}

nlohmann::json OptionalTime(const std::optional<SDeviceReport::TimePoint>& time) {
    return time ? nlohmann::json(Rfc3339Utc(*time)) : nlohmann::json(nullptr);
}

std::string CsvOptionalTime(const std::optional<SDeviceReport::TimePoint>& time) {
    return time ? Rfc3339Utc(*time) : std::string();
}

// Creates the file the report is written to before it is renamed over path: a new file in
// path's folder (so that the rename stays on one file system), never one that exists and never
// through a symbolic link, which someone who can write to the folder may have planted at a name
// they guessed. The first name tried is "<path>.tmp<pid>"; when something is in the way, a few
// names with a random part follow. Returns the descriptor (temporary set) or -1 (error set).
int CreateReportTemporary(const std::filesystem::path& path, std::filesystem::path& temporary,
                          int& error) {
    constexpr unsigned kAttempts = 8;
    for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = path;
        temporary += ".tmp" + std::to_string(::getpid());
        if (attempt > 0) {
            unsigned suffix = attempt;  // still a new name when no random bytes can be had
            if (::getrandom(&suffix, sizeof suffix, 0) != static_cast<ssize_t>(sizeof suffix)) {
                suffix = attempt;
            }
            temporary += "-" + std::to_string(suffix);
        }
        // The mode an ordinary new file gets: the report is meant to be read and passed on.
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        error = errno;
        if (error != EEXIST && error != ELOOP) {
            break;
        }
    }
    return -1;
}

// Writes all of text to fd; false (error set) when it could not.
bool WriteWhole(int fd, std::string_view text, int& error) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string Rfc3339Utc(SDeviceReport::TimePoint time) {
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    std::array<char, 40> text{};
    const int length =
        std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                      utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                      utc.tm_sec, static_cast<int>(millis % 1000));
    return length > 0 ? std::string(text.data(), static_cast<std::size_t>(length)) : std::string();
}

nlohmann::json DeviceJson(const SDeviceReport& device) {
    return {
        {"schema", kReportSchema},
        {"type", "device"},
        {"host", Utf8(device.host)},
        {"model", Utf8(device.model)},
        {"version_before", Utf8(device.versionBefore)},
        {"version_after", OptionalText(device.versionAfter)},
        {"outcome", device.outcome},
        {"result_code", device.resultCode},
        {"result", Utf8(device.result)},
        {"wave", device.wave ? nlohmann::json(*device.wave) : nlohmann::json(nullptr)},
        {"start", OptionalTime(device.start)},
        {"end", OptionalTime(device.end)},
        {"test_attempts", device.testAttempts},
    };
}

nlohmann::json SummaryJson(const SRunSummary& summary) {
    return {
        {"schema", kReportSchema},
        {"type", "summary"},
        {"devices", summary.devices},
        {"outcomes",
         {{"0", summary.rewritten},
          {"1", summary.sameVersion},
          {"2", summary.newerSkipped},
          {"-100", summary.testFailed},
          {"-200", summary.rewriteFailed},
          {"-300", summary.startupFailed}}},
        {"waves_planned", summary.wavesPlanned},
        {"waves_run", summary.wavesRun},
        {"stopped", summary.stopped},
        {"stop_reason",
         summary.stopped ? nlohmann::json(Utf8(summary.stopReason)) : nlohmann::json(nullptr)},
        {"elapsed_seconds", summary.elapsedSeconds},
        {"tool_version", Utf8(summary.toolVersion)},
        {"image_version", Utf8(summary.imageVersion)},
        {"image_sha256", summary.imageSha256},
        {"dry_run", summary.dryRun},
        {"exit_code", summary.exitCode},
    };
}

std::string JsonLine(const nlohmann::json& object) {
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string DeviceJsonLine(const SDeviceReport& device) {
    return JsonLine(DeviceJson(device));
}

std::string SummaryJsonLine(const SRunSummary& summary) {
    return JsonLine(SummaryJson(summary));
}

std::string CsvTextField(const std::string& text) {
    std::string field = text;
    if (!field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string::npos) {
        field.insert(field.begin(), '\'');
    }
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        return field;
    }
    std::string quoted = "\"";
    for (const char c : field) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string CsvReport(const std::vector<SDeviceReport>& devices) {
    std::string csv =
        "host,model,version_before,version_after,outcome,result_code,result,wave,start,end,"
        "test_attempts\r\n";
    for (const SDeviceReport& device : devices) {
        csv += CsvTextField(Utf8(device.host)) + ',' + CsvTextField(Utf8(device.model)) + ',' +
               CsvTextField(Utf8(device.versionBefore)) + ',' +
               (device.versionAfter ? CsvTextField(Utf8(*device.versionAfter)) : "") + ',' +
               std::to_string(device.outcome) + ',' + std::to_string(device.resultCode) + ',' +
               CsvTextField(Utf8(device.result)) + ',' +
               (device.wave ? std::to_string(*device.wave) : "") + ',' +
               CsvOptionalTime(device.start) + ',' + CsvOptionalTime(device.end) + ',' +
               std::to_string(device.testAttempts) + "\r\n";
    }
    return csv;
}

bool WriteCsvReport(const std::filesystem::path& path, const std::vector<SDeviceReport>& devices,
                    int& error) {
    const std::string csv = CsvReport(devices);
    std::filesystem::path temporary;
    const int fd = CreateReportTemporary(path, temporary, error);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteWhole(fd, csv, error);
    if (ok && ::fsync(fd) != 0) {
        error = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

std::wstring TerminalSafe(std::wstring_view text) {
    std::wstring safe;
    safe.reserve(text.size());
    constexpr std::wstring_view kHex = L"0123456789abcdef";
    for (const wchar_t c : text) {
        const std::uint32_t code = std::char_traits<wchar_t>::to_int_type(c);
        if (code < 0x20 || code == 0x7F) {
            safe += L"\\x";
        } else if (code >= 0x80 && code <= 0x9F) {
            safe += L"\\u00";
        } else {
            safe += c;
            continue;
        }
        safe += kHex[(code >> 4U) & 0xFU];
        safe += kHex[code & 0xFU];
    }
    return safe;
}

}  // namespace talbo::tesk::vorta
