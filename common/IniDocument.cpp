#include "common/IniDocument.h"

#include <iterator>

namespace talbo::tesk::vorta::common {

namespace {

constexpr std::size_t npos = std::wstring::npos;

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

}  // namespace

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

IniDocument::Line IniDocument::ParseLine(std::wstring_view raw) {
    Line line;
    line.text.assign(raw);
    const std::wstring_view t = Trim(raw);
    if (t.empty() || t.front() == L';') {
        return line;
    }
    if (t.front() == L'[') {
        const std::size_t close = t.find(L']');
        if (close != npos) {
            line.kind = Kind::Section;
            line.name.assign(Trim(t.substr(1, close - 1)));
        }
        return line;
    }
    const std::size_t eq = t.find(L'=');
    if (eq == npos) {
        return line;
    }
    line.kind = Kind::Pair;
    line.name.assign(Trim(t.substr(0, eq)));
    std::wstring_view value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
        value = value.substr(1, value.size() - 2);
    }
    line.value.assign(value);
    return line;
}

IniDocument IniDocument::Parse(std::wstring_view text) {
    IniDocument doc;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L'\n', start);
        const bool last = end == npos;
        if (last) {
            end = text.size();
        }
        std::wstring_view raw = text.substr(start, end - start);
        if (!raw.empty() && raw.back() == L'\r') {
            raw.remove_suffix(1);
        }
        doc.lines_.push_back(ParseLine(raw));
        start = last ? text.size() : end + 1;
    }
    return doc;
}

std::size_t IniDocument::FindPair(std::wstring_view section, std::wstring_view key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.kind == Kind::Section) {
            inSection = EqualsAsciiNoCase(line.name, section);
        } else if (inSection && line.kind == Kind::Pair && EqualsAsciiNoCase(line.name, key)) {
            return i;
        }
    }
    return npos;
}

std::optional<std::wstring> IniDocument::Get(std::wstring_view section,
                                             std::wstring_view key) const {
    const std::size_t i = FindPair(section, key);
    if (i == npos) {
        return std::nullopt;
    }
    return lines_[i].value;
}

void IniDocument::Set(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    Line pair;
    pair.kind = Kind::Pair;
    pair.name.assign(key);
    pair.value.assign(value);
    pair.text.assign(key).append(L"=").append(value);

    const std::size_t existing = FindPair(section, key);
    if (existing != npos) {
        lines_[existing] = std::move(pair);
        return;
    }
    // After the last non-empty line of the first section of that name.
    std::size_t insertAt = npos;
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.kind == Kind::Section) {
            if (inSection) {
                break;
            }
            inSection = EqualsAsciiNoCase(line.name, section);
            if (inSection) {
                insertAt = i + 1;
            }
        } else if (inSection && !Trim(line.text).empty()) {
            insertAt = i + 1;
        }
    }
    if (insertAt != npos) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(pair));
        return;
    }
    // A document ending in an unterminated empty line keeps no stray blank before the section.
    while (!lines_.empty() && lines_.back().kind == Kind::Other && lines_.back().text.empty()) {
        lines_.pop_back();
    }
    Line head;
    head.kind = Kind::Section;
    head.name.assign(section);
    head.text.assign(L"[").append(section).append(L"]");
    lines_.push_back(std::move(head));
    lines_.push_back(std::move(pair));
}

void IniDocument::ReplaceSection(std::wstring_view section,
                                 const std::vector<std::pair<std::wstring, std::wstring>>& pairs) {
    std::vector<Line> replacement;
    Line head;
    head.kind = Kind::Section;
    head.name.assign(section);
    head.text.assign(L"[").append(section).append(L"]");
    replacement.push_back(std::move(head));
    for (const auto& [key, value] : pairs) {
        Line pair;
        pair.kind = Kind::Pair;
        pair.name = key;
        pair.value = value;
        pair.text.assign(key).append(L"=").append(value);
        replacement.push_back(std::move(pair));
    }
    std::size_t begin = npos;
    for (std::size_t i = 0; i < lines_.size() && begin == npos; ++i) {
        if (lines_[i].kind == Kind::Section && EqualsAsciiNoCase(lines_[i].name, section)) {
            begin = i;
        }
    }
    if (begin == npos) {
        while (!lines_.empty() && lines_.back().kind == Kind::Other && lines_.back().text.empty()) {
            lines_.pop_back();
        }
        std::move(replacement.begin(), replacement.end(), std::back_inserter(lines_));
        return;
    }
    std::size_t end = begin + 1;
    while (end < lines_.size() && lines_[end].kind != Kind::Section) {
        ++end;
    }
    const auto at = lines_.begin() + static_cast<std::ptrdiff_t>(begin);
    lines_.erase(at, lines_.begin() + static_cast<std::ptrdiff_t>(end));
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(begin),
                  std::make_move_iterator(replacement.begin()),
                  std::make_move_iterator(replacement.end()));
}

std::vector<std::wstring> IniDocument::Keys(std::wstring_view section) const {
    std::vector<std::wstring> keys;
    bool inSection = false;
    for (const Line& line : lines_) {
        if (line.kind == Kind::Section) {
            inSection = EqualsAsciiNoCase(line.name, section);
        } else if (inSection && line.kind == Kind::Pair) {
            bool seen = false;
            for (const std::wstring& k : keys) {
                seen = seen || EqualsAsciiNoCase(k, line.name);
            }
            if (!seen) {
                keys.push_back(line.name);
            }
        }
    }
    return keys;
}

std::wstring IniDocument::Serialize() const {
    std::wstring out;
    for (const Line& line : lines_) {
        out.append(line.text).append(L"\r\n");
    }
    return out;
}

}  // namespace talbo::tesk::vorta::common
