#include "engine/model/CMD5Digest.h"

#include <openssl/evp.h>

namespace talbo::tesk::vorta {

CMD5Digest::CMD5Digest(const ByteSequence& bytes) {
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), value.data(), &length, EVP_md5(), nullptr) != 1 ||
        length != value.size()) {
        return;  // the text stays empty
    }
    static constexpr wchar_t kHexDigits[] = L"0123456789abcdef";
    text.reserve(2 * value.size());
    for (const unsigned char byte : value) {
        text.push_back(kHexDigits[byte >> 4]);
        text.push_back(kHexDigits[byte & 0x0F]);
    }
}

std::wstring MakeDigestText(const ByteSequence& bytes) {
    return CMD5Digest(bytes).GetText();
}

}  // namespace talbo::tesk::vorta
