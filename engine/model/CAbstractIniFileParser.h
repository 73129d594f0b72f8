#pragma once

#include <string>

#include "engine/model/CIniFileParser.h"

namespace talbo::tesk::vorta {

// Keeps the path of the file being parsed and reads the keys of its INI-style header.
class CAbstractIniFileParser : public CIniFileParser {
public:
    // An empty path fails at once; otherwise ParseFile decides.
    int Parse(const std::wstring& path, CUpdateImagePartList& parts) override;

protected:
    virtual int ParseFile(CUpdateImagePartList& parts) = 0;

    // The key's value, at most capacity-1 characters; empty when absent.
    std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                                   std::size_t capacity);
    // The key's value as a decimal integer; 0 when absent or not a number.
    int ReadProfileInt(const std::wstring& section, const std::wstring& key);

    std::wstring path;
};

}  // namespace talbo::tesk::vorta
