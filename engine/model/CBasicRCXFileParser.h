#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/CAbstractIniFileParser.h"
#include "engine/model/CParallelBlockReader.h"

namespace talbo::tesk::vorta {

// Parser of the RCX update image: text header, separator byte 0xFF, then each data block
// followed by the block marker.
class CBasicRCXFileParser : public CAbstractIniFileParser {
protected:
    int ParseFile(CUpdateImagePartList& parts) override;

private:
    void Reset();
    bool CheckMagic();
    bool ReadSteps();
    bool CheckFraming() const;
    bool ReadBlocks();
    bool CheckTotal();
    void BuildParts(CUpdateImagePartList& parts);

    // Where each block starts, given the offset of the separator byte.
    std::vector<CParallelBlockReader::Extent> BlockExtents(std::int64_t separator) const;

    // One entry per data block, in block order.
    std::vector<std::wstring> names;
    std::vector<std::wstring> afterVersions;
    std::vector<std::wstring> numbers;
    std::vector<std::int32_t> sizes;
    std::vector<ByteSequence> blocks;
    std::vector<std::wstring> digests;  // computed while the blocks are read
};

}  // namespace talbo::tesk::vorta
