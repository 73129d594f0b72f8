// vorta-mkimage's reading of an image (--info, --verify) held against the engine's parser: an
// image it finds without fault is one the engine accepts, and one the engine refuses has a
// fault. Trailing bytes and a header beyond what the engine reads count as faults only here.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "engine/model/CBasicRCXFileParser.h"
#include "imagegen/ImageInspection.h"

namespace tv = talbo::tesk::vorta;
namespace ig = talbo::tesk::vorta::imagegen;
using vorta_fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = vorta_fuzz::WriteScratchFile(data, size).string();
    ig::ImageInspection inspection;
    Require(ig::InspectImage(path, inspection).empty(), "a readable file is inspected");
    Require(inspection.fileSize == size, "the size is the file's");
    Require(inspection.sha256.size() == 64, "the digest has 64 hexadecimal digits");
    Require(!ig::FormatInspection(path, inspection).empty(), "--info has a text");

    tv::CBasicRCXFileParser parser;
    tv::CUpdateImagePartList parts;
    const bool engineAccepts = parser.Parse(std::wstring(path.begin(), path.end()), parts) == 0;
    if (inspection.faults.empty()) {
        Require(engineAccepts, "an image without fault is one the engine accepts");
        Require(parts.size() == inspection.blockCount, "both count the same blocks");
        std::uint64_t total = 0;
        for (const auto& part : parts) {
            total += part->GetData().size();
        }
        Require(total == inspection.blockTotal, "both find the same block bytes");
    }
    if (!engineAccepts) {
        Require(!inspection.faults.empty(), "an image the engine refuses has a fault");
    }
    return 0;
}
