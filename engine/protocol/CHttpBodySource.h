#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/model/ByteSequence.h"

namespace talbo::tesk::vorta {

// Feeds a request body to the HTTP client straight from the builder's three pieces (head, file
// data, tail), which are never joined. The client may rewind the body to send it again (an
// authentication round, a dropped connection); rewinds are bounded so that a device demanding
// resends without end cannot keep the engine sending for ever.
class CHttpBodySource {
public:
    static constexpr int kMaxRewinds = 8;

    CHttpBodySource() = default;
    CHttpBodySource(const ByteSequence& head, const ByteSequence& fileData,
                    const ByteSequence& tail);

    std::uint64_t TotalSize() const { return total; }
    // Copies up to capacity bytes from the current position; 0 at the end.
    std::size_t Read(std::uint8_t* out, std::size_t capacity);
    // Moves to an absolute position; false beyond the end or when rewinds are exhausted.
    bool SeekTo(std::uint64_t position);
    int RewindCount() const { return rewinds; }
    bool AtStart() const { return position == 0; }

private:
    std::array<const ByteSequence*, 3> pieces{};
    std::uint64_t total = 0;
    std::uint64_t position = 0;
    int rewinds = 0;
};

}  // namespace talbo::tesk::vorta
