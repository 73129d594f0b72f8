#include "simulator/CEventLog.h"

#include <ctime>

namespace talbo::tesk::vorta::devsim {
namespace {

std::string UtcNow() {
    auto now = std::chrono::system_clock::now();
    auto seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(millis));
    return text;
}

}  // namespace

std::unique_ptr<CEventLog> CEventLog::Open(const std::string& path, std::string& error) {
    if (path == "-") {
        return std::unique_ptr<CEventLog>(new CEventLog(stdout, false));
    }
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        error = "cannot open the event log " + path;
        return nullptr;
    }
    return std::unique_ptr<CEventLog>(new CEventLog(file, true));
}

CEventLog::CEventLog(std::FILE* file, bool owned)
    : file_(file), owned_(owned), started_(std::chrono::steady_clock::now()) {}

CEventLog::~CEventLog() {
    if (owned_) {
        std::fclose(file_);
    } else {
        std::fflush(file_);
    }
}

void CEventLog::Write(const nlohmann::ordered_json& fields) {
    nlohmann::ordered_json entry;
    entry["time"] = UtcNow();
    entry["t_ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started_)
                        .count();
    entry.update(fields);
    // Invalid UTF-8 from a client is shown escaped rather than refused.
    std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

}  // namespace talbo::tesk::vorta::devsim
