#include "engine/model/CAbstractIniFileParser.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/Utf8.h"
#include "engine/model/CImageFile.h"

namespace talbo::tesk::vorta {

namespace {

constexpr unsigned char kSeparator = 0xFF;

// Decimal value with wrap-around, so that sizes and their total agree in 32-bit arithmetic.
int ParseDecimal32(const std::wstring& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10U + static_cast<std::uint32_t>(text[i] - L'0');
    }
    if (negative) {
        value = 0U - value;
    }
    return static_cast<int>(value);
}

}  // namespace

int CAbstractIniFileParser::Parse(const std::wstring& newPath, CUpdateImagePartList& parts) {
    if (newPath.empty()) {
        return -1;
    }
    const std::size_t before = parts.size();
    try {
        path = newPath;
        header.reset();
        const int result = ParseFile(parts);
        header.reset();
        if (result != 0 && parts.size() > before) {
            parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(before), parts.end());
        }
        return result == 0 ? 0 : -1;
    } catch (...) {
        header.reset();
        if (parts.size() > before) {
            parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(before), parts.end());
        }
        return -1;
    }
}

std::optional<std::wstring> CAbstractIniFileParser::LoadHeader() {
    header.emplace();
    const std::optional<CImageFile> file = CImageFile::Open(path);
    if (!file) {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes(kMaxHeaderBytes);
    const std::int64_t n = file->ReadAt(0, bytes.data(), bytes.size());
    if (n < 0) {
        return std::nullopt;
    }
    const auto end = std::find(bytes.begin(), bytes.begin() + n, kSeparator);
    std::wstring text(bytes.begin(), end);  // each byte one character
    header = common::IniDocument::Parse(text);
    return text;
}

const common::IniDocument& CAbstractIniFileParser::Header() {
    if (!header) {
        LoadHeader();
    }
    return *header;
}

std::wstring CAbstractIniFileParser::ReadProfileString(const std::wstring& section,
                                                       const std::wstring& key,
                                                       std::size_t capacity) {
    // The file is opened by its path as given, relative to the current directory, so a second
    // attempt with an explicit ".\" prefix could never find anything new.
    std::optional<std::wstring> value = Header().Get(section, key);
    if (!value || capacity == 0) {
        return {};
    }
    if (value->size() > capacity - 1) {
        value->resize(capacity - 1);
    }
    return std::move(*value);
}

int CAbstractIniFileParser::ReadProfileInt(const std::wstring& section, const std::wstring& key) {
    const std::optional<std::wstring> value = Header().Get(section, key);
    return value ? ParseDecimal32(*value) : 0;
}

}  // namespace talbo::tesk::vorta
