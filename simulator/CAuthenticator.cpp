#include "simulator/CAuthenticator.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "simulator/CMd5Stream.h"

namespace talbo::tesk::vorta::devsim {
namespace {

constexpr auto kNonceLifetime = std::chrono::minutes(10);
constexpr std::size_t kMaxNonces = 4096;

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) {
        // Uniqueness matters here, not secrecy: fall back on the clock.
        auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        for (std::size_t i = 0; i < bytes; ++i) {
            raw[i] =
                static_cast<unsigned char>(ticks >> ((i % 8) * 8)) ^ static_cast<unsigned char>(i);
        }
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : raw) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 0x0F]);
    }
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    };
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        int padding = 0;
        for (int j = 0; j < 4; ++j) {
            char c = text[i + j];
            if (c == '=' && i + 4 == text.size() && j >= 2) {
                v[j] = 0;
                ++padding;
            } else if (padding > 0 || (v[j] = value(c)) < 0) {
                return std::nullopt;
            }
        }
        std::uint32_t triple = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        out.push_back(static_cast<char>(triple >> 16));
        if (padding < 2)
            out.push_back(static_cast<char>((triple >> 8) & 0xFF));
        if (padding < 1)
            out.push_back(static_cast<char>(triple & 0xFF));
    }
    return out;
}

// key=value and key="quoted value" pairs of a Digest credentials header, keys lower-cased.
std::optional<std::map<std::string, std::string>> ParseDigestParameters(std::string_view text) {
    std::map<std::string, std::string> parameters;
    std::size_t i = 0;
    auto skipSpace = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ','))
            ++i;
    };
    skipSpace();
    while (i < text.size()) {
        std::size_t keyStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ' ' && text[i] != ',')
            ++i;
        std::string key = Lower(text.substr(keyStart, i - keyStart));
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (key.empty() || i >= text.size() || text[i] != '=') {
            return std::nullopt;
        }
        ++i;
        while (i < text.size() && text[i] == ' ')
            ++i;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char c = text[i++];
                if (c == '\\' && i < text.size()) {
                    value.push_back(text[i++]);
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    value.push_back(c);
                }
            }
            if (!closed) {
                return std::nullopt;
            }
        } else {
            std::size_t valueStart = i;
            while (i < text.size() && text[i] != ',' && text[i] != ' ')
                ++i;
            value = text.substr(valueStart, i - valueStart);
        }
        if (!parameters.emplace(key, value).second) {
            return std::nullopt;
        }
        skipSpace();
    }
    return parameters;
}

AuthCheck Refused(AuthCheck::Result result, std::string detail) {
    return AuthCheck{result, std::move(detail)};
}

}  // namespace

std::string_view AuthSchemeName(AuthScheme scheme) {
    switch (scheme) {
        case AuthScheme::Digest:
            return "digest";
        case AuthScheme::Basic:
            return "basic";
        case AuthScheme::None:
            return "none";
    }
    return "";
}

std::string_view AuthResultName(AuthCheck::Result result) {
    switch (result) {
        case AuthCheck::Result::NotRequired:
            return "not-required";
        case AuthCheck::Result::Accepted:
            return "accepted";
        case AuthCheck::Result::Missing:
            return "missing";
        case AuthCheck::Result::Rejected:
            return "rejected";
        case AuthCheck::Result::Stale:
            return "stale";
    }
    return "";
}

CAuthenticator::CAuthenticator(AuthScheme scheme, std::string realm)
    : scheme_(scheme), realm_(std::move(realm)), opaque_(RandomHex(16)) {}

AuthCheck CAuthenticator::Check(std::string_view method, const char* authorization,
                                std::string_view target, std::string_view path) {
    if (scheme_ == AuthScheme::None) {
        return {AuthCheck::Result::NotRequired, {}};
    }
    if (authorization == nullptr) {
        return Refused(AuthCheck::Result::Missing, "no Authorization header");
    }
    std::string_view header = authorization;
    if (scheme_ == AuthScheme::Basic) {
        if (!StartsWithNoCase(header, "Basic ")) {
            return Refused(AuthCheck::Result::Rejected,
                           "Authorization is not of the Basic scheme this device demands");
        }
        return CheckBasic(header.substr(6));
    }
    if (!StartsWithNoCase(header, "Digest ")) {
        return Refused(AuthCheck::Result::Rejected,
                       "Authorization is not of the Digest scheme this device demands");
    }
    return CheckDigest(method, header.substr(7), target, path);
}

AuthCheck CAuthenticator::CheckBasic(std::string_view credentials) const {
    while (!credentials.empty() && credentials.front() == ' ')
        credentials.remove_prefix(1);
    auto decoded = DecodeBase64(credentials);
    if (!decoded) {
        return Refused(AuthCheck::Result::Rejected, "Basic credentials are not valid base64");
    }
    std::size_t colon = decoded->find(':');
    if (colon == std::string::npos) {
        return Refused(AuthCheck::Result::Rejected, "Basic credentials hold no ':'");
    }
    if (decoded->substr(0, colon) != kDeviceUser) {
        return Refused(AuthCheck::Result::Rejected,
                       "unknown user \"" + decoded->substr(0, colon) + "\"");
    }
    if (decoded->substr(colon + 1) != kDevicePassword) {
        return Refused(AuthCheck::Result::Rejected, "wrong password");
    }
    return {AuthCheck::Result::Accepted, {}};
}

AuthCheck CAuthenticator::CheckDigest(std::string_view method, std::string_view credentials,
                                      std::string_view target, std::string_view path) {
    auto parameters = ParseDigestParameters(credentials);
    if (!parameters) {
        return Refused(AuthCheck::Result::Rejected, "Digest credentials cannot be parsed");
    }
    auto get = [&](const char* key) -> std::string {
        auto it = parameters->find(key);
        return it == parameters->end() ? std::string() : it->second;
    };
    std::string username = get("username");
    std::string realm = get("realm");
    std::string nonce = get("nonce");
    std::string uri = get("uri");
    std::string response = Lower(get("response"));
    std::string algorithm = get("algorithm");
    std::string qop = get("qop");
    std::string nc = get("nc");
    std::string cnonce = get("cnonce");
    if (username != kDeviceUser) {
        return Refused(AuthCheck::Result::Rejected, "unknown user \"" + username + "\"");
    }
    if (realm != realm_) {
        return Refused(AuthCheck::Result::Rejected,
                       "realm \"" + realm + "\" is not \"" + realm_ + "\"");
    }
    if (!algorithm.empty() && Lower(algorithm) != "md5") {
        return Refused(AuthCheck::Result::Rejected, "algorithm \"" + algorithm + "\" is not MD5");
    }
    if (uri != path && uri != target) {
        return Refused(AuthCheck::Result::Rejected,
                       "uri \"" + uri + "\" names neither the request target nor its path");
    }
    if (auto opaque = parameters->find("opaque");
        opaque != parameters->end() && opaque->second != opaque_) {
        return Refused(AuthCheck::Result::Rejected, "opaque value is not the one issued");
    }
    std::uint64_t count = 0;
    if (!qop.empty()) {
        if (qop != "auth") {
            return Refused(AuthCheck::Result::Rejected, "qop \"" + qop + "\" is not auth");
        }
        if (nc.size() != 8 || cnonce.empty() || !std::all_of(nc.begin(), nc.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c));
            })) {
            return Refused(AuthCheck::Result::Rejected, "nc or cnonce missing or malformed");
        }
        count = std::stoull(nc, nullptr, 16);
    }
    std::string ha1 =
        CMd5Stream::OfBytes(username + ":" + realm_ + ":" + std::string(kDevicePassword));
    std::string ha2 = CMd5Stream::OfBytes(std::string(method) + ":" + uri);
    std::string expected = qop.empty() ? CMd5Stream::OfBytes(ha1 + ":" + nonce + ":" + ha2)
                                       : CMd5Stream::OfBytes(ha1 + ":" + nonce + ":" + nc + ":" +
                                                             cnonce + ":" + qop + ":" + ha2);

    std::lock_guard lock(mutex_);
    auto now = std::chrono::steady_clock::now();
    auto it = nonces_.find(nonce);
    if (it == nonces_.end() || now - it->second.issued > kNonceLifetime) {
        if (response == expected) {
            return Refused(AuthCheck::Result::Stale, "nonce is unknown or expired");
        }
        return Refused(AuthCheck::Result::Rejected, "nonce is unknown and the response is wrong");
    }
    if (response != expected) {
        return Refused(AuthCheck::Result::Rejected, "Digest response does not match the password");
    }
    if (!qop.empty()) {
        if (count <= it->second.lastCount) {
            return Refused(AuthCheck::Result::Stale,
                           "nonce count " + nc + " was already used with this nonce");
        }
        it->second.lastCount = count;
    }
    return {AuthCheck::Result::Accepted, {}};
}

void CAuthenticator::ForgetOldNonces(std::chrono::steady_clock::time_point now) {
    for (auto it = nonces_.begin(); it != nonces_.end();) {
        it = now - it->second.issued > kNonceLifetime ? nonces_.erase(it) : std::next(it);
    }
    while (nonces_.size() >= kMaxNonces) {
        auto oldest = std::min_element(nonces_.begin(), nonces_.end(), [](auto& a, auto& b) {
            return a.second.issued < b.second.issued;
        });
        nonces_.erase(oldest);
    }
}

std::string CAuthenticator::Challenge(bool stale) {
    if (scheme_ == AuthScheme::Basic) {
        return "Basic realm=\"" + realm_ + "\"";
    }
    std::string nonce = RandomHex(16);
    {
        std::lock_guard lock(mutex_);
        auto now = std::chrono::steady_clock::now();
        ForgetOldNonces(now);
        nonces_[nonce] = NonceState{now, 0};
    }
    std::string text = "Digest realm=\"" + realm_ + "\", qop=\"auth\", nonce=\"" + nonce +
                       "\", opaque=\"" + opaque_ + "\", algorithm=MD5";
    if (stale) {
        text += ", stale=true";
    }
    return text;
}

}  // namespace talbo::tesk::vorta::devsim
