#include "engine/protocol/CHttpBodySource.h"

#include <algorithm>
#include <cstring>

namespace talbo::tesk::vorta {

CHttpBodySource::CHttpBodySource(const ByteSequence& head, const ByteSequence& fileData,
                                 const ByteSequence& tail)
    : pieces{&head, &fileData, &tail}, total(head.size() + fileData.size() + tail.size()) {}

std::size_t CHttpBodySource::Read(std::uint8_t* out, std::size_t capacity) {
    std::size_t written = 0;
    std::uint64_t pieceStart = 0;
    for (const ByteSequence* piece : pieces) {
        if (piece == nullptr) {
            continue;
        }
        const std::uint64_t pieceEnd = pieceStart + piece->size();
        if (position < pieceEnd && written < capacity) {
            const std::size_t offset = static_cast<std::size_t>(position - pieceStart);
            const std::size_t count = std::min(piece->size() - offset, capacity - written);
            std::memcpy(out + written, piece->data() + offset, count);
            written += count;
            position += count;
        }
        pieceStart = pieceEnd;
    }
    return written;
}

bool CHttpBodySource::SeekTo(std::uint64_t newPosition) {
    if (newPosition > total || rewinds >= kMaxRewinds) {
        return false;
    }
    ++rewinds;
    position = newPosition;
    return true;
}

}  // namespace talbo::tesk::vorta
