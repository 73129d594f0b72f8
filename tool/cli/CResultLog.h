#pragma once

#include <array>
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
    // The run's result code and its text.
    static constexpr std::wstring_view kResultKey = L"Result";
    static constexpr std::wstring_view kDetailKey = L"Detail";
    // The key that names the SHA-256 of the update image a run carried (64 lowercase
    // hexadecimal digits, CarriedImageSha256()).
    static constexpr std::wstring_view kImageDigestKey = L"ImageSHA256";
    // The keys a run's section holds for the run itself: its code, its text and the image's
    // digest.
    static constexpr std::array<std::wstring_view, 3> kRunKeys = {kResultKey, kDetailKey,
                                                                  kImageDigestKey};

    // Keys after "Result" and "Detail" in a run's section: the image's digest when one is set
    // (WithImageDigest), then one key per device of a batch (host name, "code text") in the
    // order added. A device named like one of kRunKeys (ASCII case ignored, as the log's reader
    // matches keys) is written with one trailing dot added, which names the same device, so
    // that it never hides the run's own key.
    struct ExtraKeys : std::vector<std::pair<std::wstring, std::wstring>> {
        using vector::vector;
        std::wstring imageDigest;  // empty: the record has no digest key
    };

    // extra with the digest set, for the record of a run that rewrote or tried to rewrite
    // devices:
    //     Write(log, code, detail, WithImageDigest(CarriedImageSha256(), deviceKeys));
    // An empty digest (none recorded) adds no key, so records never carry an empty one.
    static ExtraKeys WithImageDigest(std::string_view sha256Hex, ExtraKeys extra = {});

    // The key a device's line gets in a run's section: the host name, with a dot added when it
    // would take one of kRunKeys.
    static std::wstring DeviceKey(const std::wstring& host);

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
