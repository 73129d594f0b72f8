#include "common/HostName.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace talbo::tesk::vorta::common {

namespace {

constexpr std::uint64_t kMaxAddress = 0xFFFFFFFF;

bool IsDigit(wchar_t c) noexcept {
    return c >= L'0' && c <= L'9';
}

// The value of a hexadecimal digit, or -1.
int HexValue(wchar_t c) noexcept {
    if (IsDigit(c)) {
        return static_cast<int>(c - L'0');
    }
    if (c >= L'a' && c <= L'f') {
        return static_cast<int>(c - L'a') + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return static_cast<int>(c - L'A') + 10;
    }
    return -1;
}

// One dot-separated number as strtoul reads it with base 0 from the start of text: "0x" or
// "0X" before a hexadecimal digit makes it hexadecimal, another leading 0 octal, else decimal.
// The number ends at the first character that is no digit of its base.
struct SPart {
    std::uint64_t value = 0;      // saturates above kMaxAddress: such a part makes no address
    std::uint64_t asDecimal = 0;  // the digits read as decimal, for the suggestion
    std::size_t length = 0;       // characters taken
    bool hexadecimal = false;
    bool leadingZero = false;
};

SPart ReadPart(std::wstring_view text) {
    SPart part;
    unsigned base = 10;
    std::size_t at = 0;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X') &&
        HexValue(text[2]) >= 0) {
        base = 16;
        at = 2;
        part.hexadecimal = true;
    } else if (text.size() > 1 && text[0] == L'0') {
        base = 8;
    }
    for (; at < text.size(); ++at) {
        const int digit = HexValue(text[at]);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) {
            break;
        }
        part.value = std::min(part.value * base + static_cast<unsigned>(digit), kMaxAddress + 1);
        part.asDecimal = std::min(part.asDecimal * 10 + static_cast<unsigned>(digit), kMaxAddress);
    }
    part.length = at;
    part.leadingZero = base == 8 && at > 1;
    return part;
}

std::wstring Dotted(std::uint32_t address) {
    return std::to_wstring(address >> 24) + L"." + std::to_wstring((address >> 16) & 0xFF) + L"." +
           std::to_wstring((address >> 8) & 0xFF) + L"." + std::to_wstring(address & 0xFF);
}

// The name for a phrase: printable ASCII as it is, anything else as "?", so that no control
// character reaches a terminal through a message.
std::wstring Printable(std::wstring_view name) {
    std::wstring shown(name);
    std::replace_if(
        shown.begin(), shown.end(), [](wchar_t c) { return c < 0x20 || c > 0x7E; }, L'?');
    return shown;
}

}  // namespace

bool IsHostNameCharacter(wchar_t c) noexcept {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'.' || c == L'-';
}

bool IsValidHostName(std::wstring_view name) noexcept {
    return !name.empty() && name.size() <= kMaxHostNameLength &&
           std::all_of(name.begin(), name.end(), IsHostNameCharacter);
}

std::wstring HostKey(std::wstring_view name) {
    if (!name.empty() && name.back() == L'.') {
        name.remove_suffix(1);
    }
    std::wstring key(name);
    for (wchar_t& c : key) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return key;
}

std::optional<SNumericSpelling> NumericSpelling(std::wstring_view name) {
    if (!name.empty() && name.back() == L'.') {
        name.remove_suffix(1);
    }
    std::array<SPart, 4> parts;
    std::size_t count = 0;
    for (std::size_t at = 0;;) {
        // A part must start with a digit (no sign, no blank), and there are at most four.
        if (count == parts.size() || at == name.size() || !IsDigit(name[at])) {
            return std::nullopt;
        }
        const SPart part = ReadPart(name.substr(at));
        if (part.value > kMaxAddress) {
            return std::nullopt;
        }
        parts[count++] = part;
        at += part.length;
        if (at == name.size()) {
            break;
        }
        if (name[at] != L'.') {
            return std::nullopt;
        }
        ++at;
    }

    // The last part fills the bytes the parts before it leave: a.b.c.d, a.b.c16, a.b24, a32.
    std::uint64_t address = 0;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (parts[i].value > 0xFF) {
            return std::nullopt;
        }
        address = address << 8 | parts[i].value;
    }
    const unsigned lastBits = 8 * static_cast<unsigned>(parts.size() - count + 1);
    if (parts[count - 1].value >> lastBits != 0) {
        return std::nullopt;
    }
    address = address << lastBits | parts[count - 1].value;

    const auto first = parts.begin();
    const auto last = parts.begin() + static_cast<std::ptrdiff_t>(count);
    const bool hexadecimal = std::any_of(first, last, [](const SPart& p) { return p.hexadecimal; });
    const bool leadingZero = std::any_of(first, last, [](const SPart& p) { return p.leadingZero; });
    SNumericSpelling spelling;
    if (count == 1) {
        spelling.kind = ENumericSpelling::SingleNumber;
    } else if (count < parts.size()) {
        spelling.kind = ENumericSpelling::FewerParts;
    } else if (hexadecimal) {
        spelling.kind = ENumericSpelling::Hexadecimal;
    } else if (leadingZero) {
        spelling.kind = ENumericSpelling::LeadingZero;
    } else {
        return std::nullopt;  // plain dotted decimal
    }
    spelling.address = Dotted(static_cast<std::uint32_t>(address));
    spelling.suggestion = spelling.address;
    if (spelling.kind == ENumericSpelling::LeadingZero &&
        std::all_of(first, last, [](const SPart& p) { return p.asDecimal <= 0xFF; })) {
        std::uint32_t meant = 0;
        for (const SPart& part : parts) {
            meant = meant << 8 | static_cast<std::uint32_t>(part.asDecimal);
        }
        spelling.suggestion = Dotted(meant);
    }
    return spelling;
}

std::optional<std::wstring> HostNameProblem(std::wstring_view name) {
    if (name.empty()) {
        return L"an empty name is not a host name";
    }
    if (name.size() > kMaxHostNameLength) {
        return L"a name of more than 254 characters is not a host name";
    }
    if (!std::all_of(name.begin(), name.end(), IsHostNameCharacter)) {
        return L"\"" + Printable(name) +
               L"\" is not a host name (1 to 254 of the letters, digits, \".\" and \"-\")";
    }
    const std::optional<SNumericSpelling> numeric = NumericSpelling(name);
    if (!numeric) {
        return std::nullopt;
    }
    std::wstring phrase(name);
    switch (numeric->kind) {
        case ENumericSpelling::SingleNumber:
            phrase += L" is a single number, which is read as " + numeric->address;
            break;
        case ENumericSpelling::FewerParts:
            phrase += L" has fewer than four parts, which are read as " + numeric->address;
            break;
        case ENumericSpelling::Hexadecimal:
            phrase += L" has a hexadecimal part, which is read as " + numeric->address;
            break;
        case ENumericSpelling::LeadingZero:
            phrase += L" has a part with a leading zero, which is read as octal (" +
                      numeric->address + L")";
            break;
    }
    return phrase + L"; write the address in plain decimal, as in " + numeric->suggestion;
}

}  // namespace talbo::tesk::vorta::common
