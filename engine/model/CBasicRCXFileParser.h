#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/model/CAbstractIniFileParser.h"

namespace talbo::tesk::vorta {

// Parser of the RCX update image: text header, separator byte 0xFF, then each data block
// followed by the block marker.
class CBasicRCXFileParser : public CAbstractIniFileParser {
protected:
    int ParseFile(CUpdateImagePartList& parts) override;

private:
    // One entry per data block, in block order.
    std::vector<std::wstring> names;
    std::vector<std::wstring> afterVersions;
    std::vector<std::wstring> numbers;
    std::vector<std::int32_t> sizes;
    std::vector<ByteSequence> blocks;
};

}  // namespace talbo::tesk::vorta
