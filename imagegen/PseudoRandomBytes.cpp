#include "imagegen/PseudoRandomBytes.h"

namespace talbo::tesk::vorta::imagegen {

namespace {

std::uint64_t SplitMix64(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t RotateLeft(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

}  // namespace

PseudoRandomBytes::PseudoRandomBytes(std::uint64_t seed) {
    for (std::uint64_t& word : state) {
        word = SplitMix64(seed);
    }
}

std::uint64_t PseudoRandomBytes::Next() {
    const std::uint64_t result = RotateLeft(state[1] * 5, 7) * 9;
    const std::uint64_t t = state[1] << 17;
    state[2] ^= state[0];
    state[3] ^= state[1];
    state[1] ^= state[2];
    state[0] ^= state[3];
    state[2] ^= t;
    state[3] = RotateLeft(state[3], 45);
    return result;
}

void PseudoRandomBytes::Fill(unsigned char* buffer, std::size_t count) {
    // Bytes leave each word lowest first, whatever the machine's byte order.
    while (count > 0 && pendingCount > 0) {
        *buffer++ = static_cast<unsigned char>(pending);
        pending >>= 8;
        --pendingCount;
        --count;
    }
    while (count >= 8) {
        const std::uint64_t word = Next();
        for (int i = 0; i < 8; ++i) {
            buffer[i] = static_cast<unsigned char>(word >> (8 * i));
        }
        buffer += 8;
        count -= 8;
    }
    if (count > 0) {
        pending = Next();
        pendingCount = 8;
        while (count > 0) {
            *buffer++ = static_cast<unsigned char>(pending);
            pending >>= 8;
            --pendingCount;
            --count;
        }
    }
}

}  // namespace talbo::tesk::vorta::imagegen
