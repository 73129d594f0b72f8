#pragma once

#include <cstdint>
#include <vector>

namespace talbo::tesk::vorta {

// Bytes of an image block or of a request/response body.
using ByteSequence = std::vector<std::uint8_t>;

}  // namespace talbo::tesk::vorta
