#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "common/IniDocument.h"
#include "engine/model/CIniFileParser.h"

namespace talbo::tesk::vorta {

// Keeps the path of the file being parsed and reads the keys of its INI-style header.
class CAbstractIniFileParser : public CIniFileParser {
public:
    // An empty path fails at once; otherwise ParseFile decides. Never throws: any exception
    // (running out of memory) is a failure with nothing appended.
    int Parse(const std::wstring& path, CUpdateImagePartList& parts) override;

protected:
    virtual int ParseFile(CUpdateImagePartList& parts) = 0;

    // The key's value, at most capacity-1 characters; empty when absent.
    std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                                   std::size_t capacity);
    // The key's value as a decimal integer in 32-bit arithmetic (optional sign, digits up to
    // the first other character); 0 when absent or not a number.
    int ReadProfileInt(const std::wstring& section, const std::wstring& key);

    // Reads the header of the file at path once per parse: every byte before the first 0xFF,
    // one character each, at most kMaxHeaderBytes of them. Returns the text (nullopt when the
    // file cannot be read) and keeps it parsed for the two readers above, which load it
    // themselves if nobody did.
    std::optional<std::wstring> LoadHeader();

    // The largest header text kept; a file without a separator near its start cannot grow the
    // parser beyond this.
    static constexpr std::size_t kMaxHeaderBytes = std::size_t{64} * 1024;

    std::wstring path;

private:
    const common::IniDocument& Header();

    std::optional<common::IniDocument> header;
};

}  // namespace talbo::tesk::vorta
