#pragma once
// Checks the credentials of a request against the device's scheme and writes its challenge.
// Digest is checked here with our own MD5 rather than by the HTTP server: behind a proxy the
// request line holds the absolute URI while the credentials name the path, and the server's
// own nonces would collide between devices that share one URL.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace talbo::tesk::vorta::devsim {

enum class AuthScheme { Digest, Basic, None };

std::string_view AuthSchemeName(AuthScheme scheme);

inline constexpr std::string_view kDeviceUser = "client";
inline constexpr std::string_view kDevicePassword = "Tz8wq3-k";

struct AuthCheck {
    enum class Result { NotRequired, Accepted, Missing, Rejected, Stale };
    Result result = Result::Missing;
    std::string detail;  // why credentials were refused

    bool Passed() const { return result == Result::NotRequired || result == Result::Accepted; }
};

std::string_view AuthResultName(AuthCheck::Result result);

class CAuthenticator {
public:
    CAuthenticator(AuthScheme scheme, std::string realm);

    AuthScheme Scheme() const { return scheme_; }
    const std::string& Realm() const { return realm_; }

    // authorization: the Authorization header, null when the request has none. target: the
    // request target as received (a path, or an absolute URI through a proxy); path: its path.
    AuthCheck Check(std::string_view method, const char* authorization, std::string_view target,
                    std::string_view path);

    // The WWW-Authenticate value for a 401 answer; every Digest challenge brings a new nonce.
    std::string Challenge(bool stale);

private:
    AuthCheck CheckBasic(std::string_view credentials) const;
    AuthCheck CheckDigest(std::string_view method, std::string_view credentials,
                          std::string_view target, std::string_view path);
    void ForgetOldNonces(std::chrono::steady_clock::time_point now);

    struct NonceState {
        std::chrono::steady_clock::time_point issued;
        std::uint64_t lastCount = 0;
    };

    AuthScheme scheme_;
    std::string realm_;
    std::string opaque_;
    std::mutex mutex_;
    std::map<std::string, NonceState> nonces_;
};

}  // namespace talbo::tesk::vorta::devsim
