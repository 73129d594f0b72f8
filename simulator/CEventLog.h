#pragma once
// The event log: one JSON object per line, written and flushed at once so that a reader
// following the file sees every event as it happens. Each line gets "time" (UTC, ISO 8601 with
// milliseconds) and "t_ms" (milliseconds since the simulator started).

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace talbo::tesk::vorta::devsim {

class CEventLog {
public:
    // path "-" writes to standard output. Null with an error text when the file cannot be made.
    static std::unique_ptr<CEventLog> Open(const std::string& path, std::string& error);
    ~CEventLog();
    CEventLog(const CEventLog&) = delete;
    CEventLog& operator=(const CEventLog&) = delete;

    void Write(const nlohmann::ordered_json& entry);

private:
    CEventLog(std::FILE* file, bool owned);

    std::FILE* file_;
    bool owned_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace talbo::tesk::vorta::devsim
