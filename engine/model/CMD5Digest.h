#pragma once

#include <array>
#include <string>

#include "engine/model/ByteSequence.h"

namespace talbo::tesk::vorta {

// MD5 digest (RFC 1321) of a byte sequence, computed on construction.
class CMD5Digest {
public:
    explicit CMD5Digest(const ByteSequence& bytes);

    // 32 lowercase hexadecimal digits, two per digest byte; empty when the digest could not
    // be computed.
    std::wstring GetText() const { return text; }

private:
    std::array<unsigned char, 16> value{};
    std::wstring text;
};

// The digest text of bytes (see CMD5Digest::GetText).
std::wstring MakeDigestText(const ByteSequence& bytes);

}  // namespace talbo::tesk::vorta
