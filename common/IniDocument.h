#pragma once
// INI text kept line by line so that a write changes only the line it concerns.
// Section and key names match ASCII-case-insensitively; values are trimmed and lose one pair of
// surrounding double quotes; when a key occurs twice, the first occurrence wins.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talbo::tesk::vorta::common {

class IniDocument {
public:
    IniDocument() = default;
    static IniDocument Parse(std::wstring_view text);

    std::optional<std::wstring> Get(std::wstring_view section, std::wstring_view key) const;

    // Replaces the key's first occurrence in place, else appends the key to the end of its
    // section, else appends the section with the key to the end of the document.
    void Set(std::wstring_view section, std::wstring_view key, std::wstring_view value);

    // Puts a section holding exactly these pairs, in this order, in the place of the first
    // section of that name (whose lines all go), else at the end of the document. A key that
    // repeats an earlier one (ASCII case ignored) is written all the same; Get sees the first.
    void ReplaceSection(std::wstring_view section,
                        const std::vector<std::pair<std::wstring, std::wstring>>& pairs);
    // Keys of a section in document order (each once, first occurrence).
    std::vector<std::wstring> Keys(std::wstring_view section) const;

    // The whole document with CR LF line ends.
    std::wstring Serialize() const;

private:
    enum class Kind { Other, Section, Pair };
    struct Line {
        Kind kind = Kind::Other;
        std::wstring text;   // the line as written, without its line end
        std::wstring name;   // section name or key name, trimmed
        std::wstring value;  // value of a pair, trimmed and unquoted
    };

    static Line ParseLine(std::wstring_view raw);
    // Index of the pair line for (section, key), or npos.
    std::size_t FindPair(std::wstring_view section, std::wstring_view key) const;

    std::vector<Line> lines_;
};

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace talbo::tesk::vorta::common
