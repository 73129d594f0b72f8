#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/model/ByteSequence.h"
#include "engine/model/CImageFile.h"

namespace talbo::tesk::vorta {

// Reads the data blocks of an image file, each into its own byte sequence, and computes the
// digest text of each, on as many threads as the machine has cores. MD5 runs at well under
// the speed of reading from the page cache, so the digests decide how long a load takes.
class CParallelBlockReader {
public:
    struct Extent {
        std::int64_t offset = 0;
        std::size_t size = 0;
    };

    // Fills blocks and digests with one entry per extent, in extent order. False when any
    // block could not be read completely or its memory could not be had; the lists are then
    // left empty.
    static bool Read(const CImageFile& file, const std::vector<Extent>& extents,
                     std::vector<ByteSequence>& blocks, std::vector<std::wstring>& digests);

    // How many threads Read uses for count blocks: one per core, at most one per block.
    static std::size_t WorkerCount(std::size_t count);
};

}  // namespace talbo::tesk::vorta
