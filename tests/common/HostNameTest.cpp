#include "common/HostName.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vc = talbo::tesk::vorta::common;

// Spellings that name one device must share a key; names of two devices must not.
TEST(HostName, KeyIgnoresCaseAndOneTrailingDot) {
    for (const wchar_t* name : {L"dup.invalid", L"DUP.INVALID", L"dup.invalid.", L"Dup.Invalid."}) {
        EXPECT_EQ(vc::HostKey(name), L"dup.invalid");
    }
    EXPECT_EQ(vc::HostKey(L"127.0.0.1."), vc::HostKey(L"127.0.0.1"));
    EXPECT_NE(vc::HostKey(L"dup.invalid.."), vc::HostKey(L"dup.invalid"));
    EXPECT_NE(vc::HostKey(L"dup-1.invalid"), vc::HostKey(L"dup.invalid"));
    EXPECT_EQ(vc::HostKey(L"\u00C9.invalid"), L"\u00C9.invalid");  // ASCII letters only
}

// The rows hold what libcurl 7.88's URL parser does with each host (checked with curl_url on
// this machine): a numeric spelling is sent as the address it reads, anything else as written.
TEST(HostName, ProblemNamesEverySpellingTheHttpLibraryRewrites) {
    const struct {
        const wchar_t* name;
        std::optional<std::wstring> problem;
    } cases[] = {
        {L"127.0.0.010",
         L"127.0.0.010 has a part with a leading zero, which is read as octal (127.0.0.8); write "
         L"the address in plain decimal, as in 127.0.0.10"},
        {L"127.0.0.010.",
         L"127.0.0.010. has a part with a leading zero, which is read as octal (127.0.0.8); write "
         L"the address in plain decimal, as in 127.0.0.10"},
        {L"127.00.0.1",
         L"127.00.0.1 has a part with a leading zero, which is read as octal (127.0.0.1); write "
         L"the address in plain decimal, as in 127.0.0.1"},
        // Read as decimal the part is no byte: the suggestion is what the library reads.
        {L"10.0.0.0377",
         L"10.0.0.0377 has a part with a leading zero, which is read as octal (10.0.0.255); write "
         L"the address in plain decimal, as in 10.0.0.255"},
        {L"0x7f.0.0.1",
         L"0x7f.0.0.1 has a hexadecimal part, which is read as 127.0.0.1; write the address in "
         L"plain decimal, as in 127.0.0.1"},
        {L"127.1",
         L"127.1 has fewer than four parts, which are read as 127.0.0.1; write the "
         L"address in plain decimal, as in 127.0.0.1"},
        {L"0x7f.1.",
         L"0x7f.1. has fewer than four parts, which are read as 127.0.0.1; write the "
         L"address in plain decimal, as in 127.0.0.1"},
        {L"2130706433",
         L"2130706433 is a single number, which is read as 127.0.0.1; write the "
         L"address in plain decimal, as in 127.0.0.1"},
        // Plain dotted decimal, with or without the dot, and names (the spellings the library
        // sends as written are the next test's).
        {L"127.0.0.10", std::nullopt},
        {L"127.0.0.1.", std::nullopt},
        {L"127.0.0.1..", std::nullopt},
        {L"10.invalid", std::nullopt},
        {L"printer-01.example.invalid", std::nullopt},
        // The character and length rule.
        {L"", L"an empty name is not a host name"},
        {L"b idle\x1b[2J",
         L"\"b idle?[2J\" is not a host name (1 to 254 of the letters, digits, \".\" and \"-\")"},
        {L"caf\u00E9.invalid",
         L"\"caf?.invalid\" is not a host name (1 to 254 of the letters, "
         L"digits, \".\" and \"-\")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        EXPECT_EQ(vc::HostNameProblem(c.name), c.problem);
    }
    EXPECT_EQ(vc::HostNameProblem(std::wstring(254, L'a')), std::nullopt);
    EXPECT_EQ(vc::HostNameProblem(std::wstring(255, L'a')),
              L"a name of more than 254 characters is not a host name");
}

// Against the HTTP library itself: every name of one to five dot-separated parts from pieces
// near each edge of its reading (bases, byte and word limits, digits outside a base, letters)
// goes out as the address NumericSpelling gives, or as written when it gives none. One
// trailing dot changes nothing for the rule.
TEST(HostName, NumericSpellingAgreesWithTheHttpLibrary) {
    const std::vector<std::string> pieces = {
        "0",   "00",    "010",   "0377", "08",       "0x",         "0x7f",       "0XfF",
        "256", "65535", "65536", "1",    "16777215", "4294967295", "4294967296", "1a"};
    std::vector<std::string> names(pieces);
    for (std::size_t from = 0, parts = 1; parts < 4; ++parts) {
        const std::size_t to = names.size();
        for (std::size_t i = from; i < to; ++i) {
            for (const std::string& piece : pieces) {
                names.push_back(names[i] + "." + piece);
            }
        }
        from = to;
    }
    names.push_back("1.2.3.4.5");
    CURLU* url = curl_url();
    ASSERT_NE(url, nullptr);
    for (const std::string& name : names) {
        const std::wstring wide(name.begin(), name.end());
        const std::optional<vc::SNumericSpelling> spelling = vc::NumericSpelling(wide);
        ASSERT_EQ(curl_url_set(url, CURLUPART_URL, ("http://" + name + "/").c_str(), 0), CURLUE_OK)
            << name;
        char* host = nullptr;
        ASSERT_EQ(curl_url_get(url, CURLUPART_HOST, &host, 0), CURLUE_OK) << name;
        const std::string sent(host);
        curl_free(host);
        EXPECT_EQ(sent, spelling ? std::string(spelling->address.begin(), spelling->address.end())
                                 : name);
        EXPECT_EQ(vc::NumericSpelling(wide + L".").has_value(), spelling.has_value()) << name;
    }
    curl_url_cleanup(url);
}
