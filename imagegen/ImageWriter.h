#pragma once

#include <string>

#include "imagegen/ImageLayout.h"

namespace talbo::tesk::vorta::imagegen {

// Writes the image: header, separator byte 0xFF, then every block followed by the block marker.
// The file appears under its name only when complete (written beside it, then renamed).
// Returns the problem, or empty text on success.
std::string WriteImage(const ImageLayout& layout, const std::string& outPath);

}  // namespace talbo::tesk::vorta::imagegen
