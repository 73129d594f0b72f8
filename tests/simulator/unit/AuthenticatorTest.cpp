#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "RequestBodies.h"
#include "simulator/CAuthenticator.h"

using namespace talbo::tesk::vorta::devsim;
using devsim_test::Md5Hex;

namespace {

const std::string kPath = "/firmware-update/firmware-update";
const std::string kAbsolute = "http://device-1.invalid/firmware-update/firmware-update";

std::string Field(const std::string& challenge, const std::string& name) {
    std::smatch match;
    std::regex pattern(name + "=\"([^\"]*)\"");
    return std::regex_search(challenge, match, pattern) ? match[1].str() : std::string();
}

// The Authorization header a client computes for a challenge (RFC 2617, qop auth).
std::string DigestHeader(const std::string& challenge, const std::string& uri,
                         const std::string& nc, const std::string& password = "Tz8wq3-k",
                         const std::string& realmOverride = {}) {
    std::string realm = realmOverride.empty() ? Field(challenge, "realm") : realmOverride;
    std::string nonce = Field(challenge, "nonce");
    std::string ha1 = Md5Hex("client:" + realm + ":" + password);
    std::string ha2 = Md5Hex("POST:" + uri);
    std::string response = Md5Hex(ha1 + ":" + nonce + ":" + nc + ":c0ffee:auth:" + ha2);
    return "Digest username=\"client\", realm=\"" + realm + "\", nonce=\"" + nonce + "\", uri=\"" +
           uri + "\", cnonce=\"c0ffee\", nc=" + nc + ", qop=auth, response=\"" + response +
           "\", opaque=\"" + Field(challenge, "opaque") + "\", algorithm=MD5";
}

}  // namespace

TEST(Authenticator, DigestChallengeNamesTheDeviceRealm) {
    CAuthenticator auth(AuthScheme::Digest, "device@device-1.invalid");
    std::string challenge = auth.Challenge(false);
    EXPECT_EQ(challenge.rfind("Digest ", 0), 0u);
    EXPECT_EQ(Field(challenge, "realm"), "device@device-1.invalid");
    EXPECT_EQ(Field(challenge, "qop"), "auth");
    EXPECT_EQ(Field(challenge, "nonce").size(), 32u);
    EXPECT_NE(Field(challenge, "nonce"), Field(auth.Challenge(false), "nonce"));
    EXPECT_NE(auth.Challenge(true).find("stale=true"), std::string::npos);
}

TEST(Authenticator, DigestAcceptsThePathOrTheAbsoluteUriAndCountsNonces) {
    CAuthenticator auth(AuthScheme::Digest, "device@device-1.invalid");
    std::string challenge = auth.Challenge(false);
    // Through a proxy the request target is absolute while the credentials name the path.
    std::string first = DigestHeader(challenge, kPath, "00000001");
    EXPECT_EQ(auth.Check("POST", first.c_str(), kAbsolute, kPath).result,
              AuthCheck::Result::Accepted);
    std::string second = DigestHeader(challenge, kAbsolute, "00000002");
    EXPECT_EQ(auth.Check("POST", second.c_str(), kAbsolute, kPath).result,
              AuthCheck::Result::Accepted);
    // Replaying a count is refused as stale, so the client fetches a fresh nonce.
    EXPECT_EQ(auth.Check("POST", second.c_str(), kAbsolute, kPath).result,
              AuthCheck::Result::Stale);
}

TEST(Authenticator, DigestRefusesWrongCredentials) {
    CAuthenticator auth(AuthScheme::Digest, "device@device-1.invalid");
    std::string challenge = auth.Challenge(false);
    struct Case {
        std::string header;
        AuthCheck::Result result;
        const char* detail;
    } cases[] = {
        {DigestHeader(challenge, kPath, "00000001", "wrong"), AuthCheck::Result::Rejected,
         "does not match"},
        {DigestHeader(challenge, "/other", "00000001"), AuthCheck::Result::Rejected,
         "names neither"},
        {DigestHeader(challenge, kPath, "00000001", "Tz8wq3-k", "device@device-2.invalid"),
         AuthCheck::Result::Rejected, "realm"},
        {DigestHeader(
             CAuthenticator(AuthScheme::Digest, "device@device-1.invalid").Challenge(false), kPath,
             "00000001"),
         AuthCheck::Result::Rejected, "opaque"},
        {"Basic Y2xpZW50OlR6OHdxMy1r", AuthCheck::Result::Rejected, "Digest scheme"},
    };
    for (const auto& c : cases) {
        auto check = auth.Check("POST", c.header.c_str(), kAbsolute, kPath);
        EXPECT_EQ(check.result, c.result) << c.header;
        EXPECT_NE(check.detail.find(c.detail), std::string::npos) << check.detail;
    }
    EXPECT_EQ(auth.Check("POST", nullptr, kAbsolute, kPath).result, AuthCheck::Result::Missing);
}

TEST(Authenticator, NonceFromAnotherDeviceIsStaleNotAccepted) {
    CAuthenticator one(AuthScheme::Digest, "device@same.invalid");
    CAuthenticator two(AuthScheme::Digest, "device@same.invalid");
    std::string header = DigestHeader(one.Challenge(false), kPath, "00000001");
    // Same realm, valid response, but the nonce was issued by another device.
    auto check = two.Check("POST", header.c_str(), kAbsolute, kPath);
    EXPECT_NE(check.result, AuthCheck::Result::Accepted);
}

TEST(Authenticator, BasicAndNone) {
    CAuthenticator basic(AuthScheme::Basic, "device@d.invalid");
    EXPECT_EQ(basic.Challenge(false), "Basic realm=\"device@d.invalid\"");
    EXPECT_EQ(basic.Check("POST", "Basic Y2xpZW50OlR6OHdxMy1r", kPath, kPath).result,
              AuthCheck::Result::Accepted);  // client:Tz8wq3-k
    EXPECT_EQ(basic.Check("POST", "Basic Y2xpZW50Ondyb25n", kPath, kPath).result,
              AuthCheck::Result::Rejected);  // client:wrong
    EXPECT_EQ(basic.Check("POST", "Basic !!!!", kPath, kPath).result, AuthCheck::Result::Rejected);
    EXPECT_EQ(basic.Check("POST", nullptr, kPath, kPath).result, AuthCheck::Result::Missing);

    CAuthenticator none(AuthScheme::None, "device@d.invalid");
    EXPECT_EQ(none.Check("POST", nullptr, kPath, kPath).result, AuthCheck::Result::NotRequired);
}
