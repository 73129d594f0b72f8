#pragma once
// An INI document bound to a file: read with its encoding detected, written back in the same
// encoding (single-byte text that cannot hold the document becomes UTF-8) and always replaced
// atomically (temporary file in the same folder, then rename), so that a crash never leaves a
// half-written file behind.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/IniDocument.h"

namespace talbo::tesk::vorta::common {

enum class TextEncoding {
    SingleByte,  // each byte one character
    Utf8,
    Utf16LE,  // with byte-order mark
};

// Decodes file bytes: a UTF-16LE or UTF-8 byte-order mark decides; without one, well-formed
// UTF-8 is read as UTF-8 and anything else as single-byte text.
std::wstring DecodeText(std::string_view bytes, TextEncoding& encoding);
// The bytes of text in the encoding; nullopt when the encoding cannot hold a character.
// UTF-16LE writes unpaired surrogates back as single units, as DecodeText read them.
std::optional<std::string> EncodeText(std::wstring_view text, TextEncoding encoding);

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);
// Writes bytes to a temporary file beside path and renames it over path.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes);

class IniFile {
public:
    // The file's document, or nullopt when it cannot be read.
    static std::optional<IniFile> Load(const std::filesystem::path& path);
    // The file's document; an absent file gives an empty document written as UTF-8.
    static std::optional<IniFile> LoadOrEmpty(const std::filesystem::path& path);

    const IniDocument& Document() const { return doc_; }
    IniDocument& Document() { return doc_; }
    TextEncoding Encoding() const { return encoding_; }

    // Writes the document; false when it could not be encoded or the file not replaced.
    bool Save();

private:
    IniFile(std::filesystem::path path, IniDocument doc, TextEncoding encoding)
        : path_(std::move(path)), doc_(std::move(doc)), encoding_(encoding) {}

    std::filesystem::path path_;
    IniDocument doc_;
    TextEncoding encoding_;
};

}  // namespace talbo::tesk::vorta::common
