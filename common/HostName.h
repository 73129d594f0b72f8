#pragma once
// The rules for device names. Registration's character rule: 1 to 254 characters, each one of
// ".", "-", the digits and the ASCII letters; the engine registers by it and the tool checks
// list files by it, so both read one rule.
//
// Which device a name names: DNS names are case-insensitive and a trailing dot only marks a
// name as complete, so "dup.invalid", "DUP.INVALID" and "dup.invalid." name one device. The
// engine still keys its records by the exact text; the tool compares HostKey so that it never
// registers one device twice (two jobs would rewrite it at once).
//
// Which names the tool takes (HostNameProblem): besides the character rule, no IPv4 address in
// a spelling other than plain dotted decimal. The HTTP library (libcurl 7.88) reads a host of 1
// to 4 dot-separated numbers, each as strtoul reads it with base 0, as an IPv4 address and
// sends the address instead of the text: "127.0.0.010" goes to 127.0.0.8 (octal), "0x7f.1" and
// "2130706433" to 127.0.0.1. A record would then name one device while another is rewritten.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talbo::tesk::vorta::common {

inline constexpr std::size_t kMaxHostNameLength = 254;

bool IsHostNameCharacter(wchar_t c) noexcept;
bool IsValidHostName(std::wstring_view name) noexcept;

// The text two names are compared by: ASCII letters in lower case, one trailing dot removed.
// Two names name the same device exactly when their keys are equal.
std::wstring HostKey(std::wstring_view name);

// How an IPv4 address is spelt when it is not plain dotted decimal. When a spelling has more
// than one of these, the first in this order is the one given.
enum class ENumericSpelling {
    SingleNumber,  // "2130706433": the whole address as one number
    FewerParts,    // "127.1": two or three parts, the last one filling the remaining bytes
    Hexadecimal,   // "0x7f.0.0.1": a part with "0x" or "0X"
    LeadingZero,   // "127.0.0.010": a part of more than one digit starting with 0, read as octal
};

struct SNumericSpelling {
    ENumericSpelling kind = ENumericSpelling::LeadingZero;
    std::wstring address;  // the address the HTTP library reads, dotted decimal ("127.0.0.8")
    // The plain spelling to suggest: for leading zeros the parts read as decimal, as the
    // writer most likely meant them ("127.0.0.10"), when that is an address; else address.
    std::wstring suggestion;
};

// The IPv4 address name spells in another way than plain dotted decimal, as the HTTP library
// reads it; nothing for every other name (plain addresses, host names such as "10.invalid",
// and digits the library takes as a name, such as "127.0.0.08" or "1.2.3.256"). One trailing
// dot is ignored: it does not change which device a name names.
std::optional<SNumericSpelling> NumericSpelling(std::wstring_view name);

// Why the tool cannot take name as a device, in one English phrase in printable ASCII that
// names the name (characters outside printable ASCII shown as "?"), for example
//   127.0.0.010 has a part with a leading zero, which is read as octal (127.0.0.8); write the
//   address in plain decimal, as in 127.0.0.10
// or nothing when the name can be taken: it keeps the character rule and is no numeric
// spelling (NumericSpelling).
std::optional<std::wstring> HostNameProblem(std::wstring_view name);

}  // namespace talbo::tesk::vorta::common
