#include "common/Utf8.h"

namespace talbo::tesk::vorta::common {

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

std::optional<std::wstring> DecodeUtf8(std::span<const std::uint8_t> bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        std::size_t length;
        char32_t value;
        char32_t minimum;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            value = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            value = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            value = lead & 0x07;
            minimum = 0x10000;
        } else {
            return std::nullopt;  // continuation byte or 0xF8..0xFF as a lead byte
        }
        if (n - i < length) {
            return std::nullopt;  // cut sequence
        }
        for (std::size_t k = 1; k < length; ++k) {
            const std::uint8_t next = bytes[i + k];
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            value = (value << 6) | (next & 0x3F);
        }
        if (value < minimum || value > kMaxCodePoint || IsSurrogate(value)) {
            return std::nullopt;
        }
        out.push_back(static_cast<wchar_t>(value));
        i += length;
    }
    return out;
}

std::optional<std::wstring> DecodeUtf8(std::string_view bytes) {
    return DecodeUtf8(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<std::string> EncodeUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t wc : text) {
        const auto c = static_cast<char32_t>(wc);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            if (IsSurrogate(c)) {
                return std::nullopt;
            }
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c <= kMaxCodePoint) {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool IsAscii(std::wstring_view text) {
    for (const wchar_t c : text) {
        if (static_cast<char32_t>(c) > 0x7F) {
            return false;
        }
    }
    return true;
}

std::string AsciiToNarrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        out.push_back(static_cast<char32_t>(c) <= 0x7F ? static_cast<char>(c) : '?');
    }
    return out;
}

std::wstring BytesToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (const char c : text) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace talbo::tesk::vorta::common
