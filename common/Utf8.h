#pragma once
// Strict UTF-8 <-> wide text conversion. Invalid input is an error and is never replaced:
// overlong forms, surrogate code points, values above U+10FFFF and cut sequences all fail.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace talbo::tesk::vorta::common {

// Decodes UTF-8 bytes into one wchar_t per code point; std::nullopt when the bytes are not
// well-formed UTF-8.
std::optional<std::wstring> DecodeUtf8(std::string_view bytes);
std::optional<std::wstring> DecodeUtf8(std::span<const std::uint8_t> bytes);

// Encodes wide text as UTF-8; std::nullopt when the text holds a surrogate or a value above
// U+10FFFF.
std::optional<std::string> EncodeUtf8(std::wstring_view text);

// True when every character is in the 7-bit ASCII range.
bool IsAscii(std::wstring_view text);

// Narrow copy of text known to be ASCII (characters above 0x7F become '?').
std::string AsciiToNarrow(std::wstring_view text);
// Each byte becomes one character of the same value (single-byte text such as list files).
std::wstring BytesToWide(std::string_view bytes);

}  // namespace talbo::tesk::vorta::common
