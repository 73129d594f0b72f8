#pragma once
// Reading an update image back: its header as the tool's engine reads it, its framing and the
// SHA-256 of the whole file, for vorta-mkimage --info and --verify. Independent of the engine,
// so that a misreading in one of the two does not hide in the other.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talbo::tesk::vorta::imagegen {

struct InspectedStep {
    std::string name;
    std::string number;               // [E] 7.N.0 as written
    std::vector<std::int64_t> sizes;  // [E] 7.N.1, 7.N.2, ... up to the first missing one
};

struct ImageInspection {
    std::uint64_t fileSize = 0;
    std::optional<std::uint64_t> separator;    // offset of the first 0xFF byte
    std::string version;                       // [E] 7
    std::vector<InspectedStep> steps;          // as far as the header could be read
    std::optional<std::uint64_t> statedTotal;  // [Z_1] 5, when it is a decimal number
    std::uint64_t blockTotal = 0;              // sum of the block sizes of the steps
    std::size_t blockCount = 0;
    // Every way the file differs from the format, in file order: magic lines, header keys the
    // engine needs, the separator byte, a block not followed by the block marker, a file that
    // ends early or goes on after the last marker, a stated total unequal to the blocks' sum.
    // Empty: the image is well-formed, and the engine accepts it.
    std::vector<std::string> faults;
    std::string sha256;  // of the whole file, 64 lowercase hexadecimal digits
};

// Reads and checks the image at path (the whole file once, for its digest). Returns the problem
// when the file cannot be read, empty text otherwise; faults of the image itself are in
// result.faults.
std::string InspectImage(const std::string& path, ImageInspection& result);

// The --info text: size, header (version, each step with its number and block sizes), the
// blocks' total against the stated one, the framing ("ok" or each fault) and the SHA-256.
std::string FormatInspection(const std::string& path, const ImageInspection& inspection);

}  // namespace talbo::tesk::vorta::imagegen
