#pragma once
// What an update image is made of, as the writer takes it: the version after the update and the
// steps, each with its name, its number and its blocks.

#include <cstdint>
#include <string>
#include <vector>

namespace talbo::tesk::vorta::imagegen {

struct BlockSource {
    std::uint64_t size = 0;  // the block's length in bytes
    std::string path;        // file whose bytes form the block; empty for pseudo-random bytes
};

struct Step {
    std::string name;
    std::string number;  // decimal text
    std::vector<BlockSource> blocks;
};

struct ImageLayout {
    std::string version;
    std::vector<Step> steps;
    std::uint64_t seed = 1;
};

// The steps and version of the stand-in image the tool carries in place of a real one.
ImageLayout StandInLayout();

// Parses one --step argument "NAME:NUMBER:BLOCK[,BLOCK...]", BLOCK being a size in bytes or
// "@PATH"; the sizes of file blocks are taken from the files. Empty error on success.
Step ParseStep(const std::string& argument, std::string& error);

// Checks what the image format requires of the layout; the problem, or empty text.
std::string Validate(const ImageLayout& layout);

// Sum of all block sizes.
std::uint64_t TotalSize(const ImageLayout& layout);

// The header text with CR LF line ends, up to but not including the separator byte.
std::string MakeHeader(const ImageLayout& layout);

}  // namespace talbo::tesk::vorta::imagegen
