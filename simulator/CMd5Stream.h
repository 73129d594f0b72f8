#pragma once
// MD5 over bytes that arrive piece by piece, so that a file part is digested while it streams
// through and never has to be kept.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace talbo::tesk::vorta::devsim {

class CMd5Stream {
public:
    CMd5Stream();
    ~CMd5Stream();
    CMd5Stream(const CMd5Stream&) = delete;
    CMd5Stream& operator=(const CMd5Stream&) = delete;

    void Update(std::string_view bytes);
    // 32 lower-case hexadecimal digits; empty when the digest could not be computed. Ends the
    // stream: later updates are ignored.
    std::string FinishHex();

    static std::string OfBytes(std::string_view bytes);

private:
    struct Deleter {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Deleter> context_;
    bool ok_ = false;
};

}  // namespace talbo::tesk::vorta::devsim
