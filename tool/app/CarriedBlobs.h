#pragma once
// The blobs the tool carries inside its executable (engine library, update image, string files,
// licence texts), found by type name and number. The executable registers its generated table
// at start; tests register their own. The generated table also holds the SHA-256 the build
// took of each blob, which start-up compares with what it unpacks (CarriedBlobDigest.h).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace talbo::tesk::vorta {

struct CarriedBlob {
    std::wstring_view type;
    int number;
    std::span<const std::uint8_t> bytes;
    // The SHA-256 of the bytes as the build linked them, 64 lowercase hexadecimal digits; empty
    // when none was recorded (tables of tests), and then nothing is checked.
    std::string_view sha256 = {};
};

inline constexpr std::wstring_view kBlobTypeDll = L"DLL";
inline constexpr std::wstring_view kBlobTypeUpdateFile = L"UPDATE_FILE";
inline constexpr std::wstring_view kBlobTypeLanguage = L"LANGUAGE";
inline constexpr int kBlobEngine = 137;
inline constexpr int kBlobUpdateImage = 138;
inline constexpr int kBlobStringsEnglish = 140;
inline constexpr int kBlobStringsJapanese = 141;
inline constexpr int kBlobLicenceJapanese = 142;
inline constexpr int kBlobLicenceEnglish = 143;

void SetCarriedBlobTable(std::span<const CarriedBlob> table);
// The blob of that type and number, or null when the executable does not carry it.
const CarriedBlob* FindCarriedBlob(std::wstring_view type, int number);

// The SHA-256 (64 lowercase hexadecimal digits) that the build recorded for the carried update
// image; empty when the executable carries no image or recorded no digest. Start-up ends the
// tool before any run when the image differs from it, so every rewrite sent exactly this image:
// records and reports of runs may name it (CResultLog::WithImageDigest).
std::string_view CarriedImageSha256();

}  // namespace talbo::tesk::vorta
