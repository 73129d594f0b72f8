#pragma once
// The blobs the tool carries inside its executable (engine library, update image, string files,
// licence texts), found by type name and number. The executable registers its generated table
// at start; tests register their own.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace talbo::tesk::vorta {

struct CarriedBlob {
    std::wstring_view type;
    int number;
    std::span<const std::uint8_t> bytes;
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

}  // namespace talbo::tesk::vorta
