#pragma once
// Decimal numbers read from texts the engine stores or is given.

#include <cstdint>
#include <optional>
#include <string_view>

namespace talbo::tesk::vorta {

// The integer at the start of text: leading white space skipped, an optional sign, then the
// digits up to the first other character. 0 when no digit can be read; values beyond the
// range of int saturate instead of overflowing.
int ReadLeadingInt(std::wstring_view text) noexcept;

// The value of a text made only of decimal digits (no sign, no space), or nullopt when the
// text is anything else or its value exceeds max.
std::optional<std::uint32_t> ReadPlainDecimal(std::string_view text, std::uint32_t max) noexcept;

}  // namespace talbo::tesk::vorta
