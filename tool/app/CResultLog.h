#pragma once

#include <filesystem>
#include <string>

namespace talbo::tesk::vorta {

// The command line's result log: one INI section per logged run, named "<date>-<NNN>", and a
// "LAST_POS" section pointing at the newest. Every write replaces the file atomically. Writers
// in one process take a mutex, writers in different processes an advisory lock (flock) on a
// lock file beside the log, around the whole read-modify-replace, so no record is lost.
class CResultLog {
public:
    // Appends one run record dated today (local time).
    static void Write(const std::filesystem::path& logPath, int resultCode,
                      const std::wstring& detail);
    // The same with the date given as "%Y/%m/%d" text (for tests and date changes).
    static void WriteDated(const std::filesystem::path& logPath, int resultCode,
                           const std::wstring& detail, const std::wstring& today);
    // The lock file beside the log ("<log>.lock"); it stays, as the log does.
    static std::filesystem::path LockPath(const std::filesystem::path& logPath);
    // Today's local date as "%Y/%m/%d"; empty if it cannot be formatted.
    static std::wstring Today();
};

}  // namespace talbo::tesk::vorta
