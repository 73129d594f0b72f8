#include "simulator/CMd5Stream.h"

#include <openssl/evp.h>

namespace talbo::tesk::vorta::devsim {

void CMd5Stream::Deleter::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

CMd5Stream::CMd5Stream() : context_(EVP_MD_CTX_new()) {
    ok_ = context_ && EVP_DigestInit_ex(context_.get(), EVP_md5(), nullptr) == 1;
}

CMd5Stream::~CMd5Stream() = default;

void CMd5Stream::Update(std::string_view bytes) {
    if (ok_ && !bytes.empty()) {
        ok_ = EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) == 1;
    }
}

std::string CMd5Stream::FinishHex() {
    if (!ok_) {
        return {};
    }
    ok_ = false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) {
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0x0F]);
    }
    return text;
}

std::string CMd5Stream::OfBytes(std::string_view bytes) {
    CMd5Stream stream;
    stream.Update(bytes);
    return stream.FinishHex();
}

}  // namespace talbo::tesk::vorta::devsim
