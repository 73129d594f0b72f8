#pragma once

#include <cstddef>
#include <cstdint>

namespace talbo::tesk::vorta::imagegen {

// xoshiro256** seeded through splitmix64: fast, and the same seed always gives the same bytes.
class PseudoRandomBytes {
public:
    explicit PseudoRandomBytes(std::uint64_t seed);

    // Fills buffer with the next count bytes of the stream.
    void Fill(unsigned char* buffer, std::size_t count);

private:
    std::uint64_t Next();

    std::uint64_t state[4];
    std::uint64_t pending = 0;  // bytes of the last word not handed out yet
    unsigned pendingCount = 0;
};

}  // namespace talbo::tesk::vorta::imagegen
