#include "engine/model/CAbstractIniFileParser.h"

namespace talbo::tesk::vorta {

// Stand-in until the image parser is built.
int CAbstractIniFileParser::Parse(const std::wstring&, CUpdateImagePartList&) { return -1; }
std::wstring CAbstractIniFileParser::ReadProfileString(const std::wstring&, const std::wstring&,
                                                       std::size_t) {
    return {};
}
int CAbstractIniFileParser::ReadProfileInt(const std::wstring&, const std::wstring&) { return 0; }

}  // namespace talbo::tesk::vorta
