#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "common/IniDocument.h"

namespace talbo::tesk::vorta {

// Every visible text of the tool, looked up by key ("STR-", "FSTR-" and "MSG-" families), and
// the mapping from the engine's result codes to result keys. Filled once on the main thread at
// start-up and only read afterwards.
class CUIStringTable {
public:
    // Encoding of a licence file: the English one is ASCII, the Japanese one code page 932.
    enum class LicenceEncoding { Ascii, Cp932 };

    static CUIStringTable& GetInstance();

    // Enters every known key with the key itself as its text and fills the result table.
    void LoadDefaults();
    // Reads the text of every known key except "FSTR-0102" from section "STRING" of an
    // interface string file; a key missing from the file gets an empty text.
    bool LoadFile(const std::filesystem::path& path);
    // The same from the bytes of an interface string file held in memory (the carried blob), for
    // when the file cannot be written.
    void LoadBytes(std::string_view bytes);
    // Sets "FSTR-0102" from a licence file; false (and an empty text) when it cannot be read.
    bool LoadLicenceText(const std::filesystem::path& path, LicenceEncoding encoding);

    // The key's text; an unknown key yields an empty text (and is entered with it).
    std::wstring GetText(const std::wstring& key);
    // The text of the key the result table gives for an engine result code; empty without one.
    std::wstring GetResultText(int resultCode);

private:
    void LoadTexts(const common::IniDocument& file);

    std::map<std::wstring, std::wstring> texts;
    std::map<int, std::wstring> resultKeys;
};

}  // namespace talbo::tesk::vorta
