#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talbo::tesk::vorta {

// The command line's result log: one INI section per logged run, named "<date>-<NNN>", and a
// "LAST_POS" section pointing at the newest. Every write replaces the file atomically. Writers
// in one process take a mutex, writers in different processes an advisory lock (flock) on a
// lock file beside the log, around the whole read-modify-replace, so no record is lost.
class CResultLog {
public:
    // Keys after "Result" and "Detail" in a run's section, in this order (a batch's devices).
    using ExtraKeys = std::vector<std::pair<std::wstring, std::wstring>>;

    // The key that names the SHA-256 of the update image a run carried (64 lowercase
    // hexadecimal digits, CarriedImageSha256()).
    static constexpr std::wstring_view kImageDigestKey = L"ImageSHA256";
    // extra with kImageDigestKey = sha256Hex put first, before a batch's device keys, for the
    // record of a run that rewrote or tried to rewrite devices:
    //     Write(log, code, detail, WithImageDigest(CarriedImageSha256(), deviceKeys));
    // An empty digest (none recorded) adds no key, so records never carry an empty one.
    static ExtraKeys WithImageDigest(std::string_view sha256Hex, ExtraKeys extra = {});

    // Appends one run record dated today (local time). A section whose number comes round
    // again is replaced as a whole, so no key of the older run stays in it.
    static void Write(const std::filesystem::path& logPath, int resultCode,
                      const std::wstring& detail, const ExtraKeys& extra = {});
    // The same with the date given as "%Y/%m/%d" text (for tests and date changes).
    static void WriteDated(const std::filesystem::path& logPath, int resultCode,
                           const std::wstring& detail, const std::wstring& today,
                           const ExtraKeys& extra = {});
    // The lock file beside the log ("<log>.lock"); it stays, as the log does.
    static std::filesystem::path LockPath(const std::filesystem::path& logPath);
    // Today's local date as "%Y/%m/%d"; empty if it cannot be formatted.
    static std::wstring Today();
};

}  // namespace talbo::tesk::vorta
