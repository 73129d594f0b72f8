#pragma once
// The rule every registered device name follows: 1 to 254 characters, each one of ".", "-",
// the digits and the ASCII letters. Names are compared exactly, so letter case matters. The
// engine registers by it and the tool checks list files by it, so both read one rule.

#include <cstddef>
#include <string_view>

namespace talbo::tesk::vorta::common {

inline constexpr std::size_t kMaxHostNameLength = 254;

bool IsHostNameCharacter(wchar_t c) noexcept;
bool IsValidHostName(std::wstring_view name) noexcept;

}  // namespace talbo::tesk::vorta::common
