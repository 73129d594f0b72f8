#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/protocol/CXMLFactory.h"
#include "engine/protocol/UpdateConnectionFactory.h"

namespace talbo::tesk::vorta {
namespace {

constexpr wchar_t kNamespace[] = L"http://www.talbo.com/schemas/2012/02/tesk-utility";

std::unique_ptr<CXMLParserIF> Loaded(const std::wstring& document,
                                     const std::wstring& schema = L"") {
    std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
    EXPECT_NE(nullptr, parser);
    EXPECT_TRUE(parser->Load(document, schema));
    return parser;
}

TEST(LibXmlParser, ElementsAreFoundFromTheRootsGrandchildrenDownwards) {
    auto parser = Loaded(
        L"<root><child a=\"1\"><grand a=\"2\"><deep a=\"3\"/></grand></child>"
        L"<other><grand a=\"4\"/></other></root>");
    std::wstring value = L"untouched";
    EXPECT_FALSE(parser->GetAttribute(L"root", L"a", value));
    EXPECT_FALSE(parser->GetAttribute(L"child", L"a", value)) << "a direct child of the root";
    EXPECT_FALSE(parser->GetText(L"other", value));
    EXPECT_EQ(L"untouched", value);
    ASSERT_TRUE(parser->GetAttribute(L"grand", L"a", value));
    EXPECT_EQ(L"2", value) << "the first in document order";
    ASSERT_TRUE(parser->GetAttribute(L"deep", L"a", value));
    EXPECT_EQ(L"3", value);
    EXPECT_FALSE(parser->GetAttribute(L"Deep", L"a", value)) << "names are case-sensitive";
}

TEST(LibXmlParser, SearchIsDepthFirstBeforeTheNextSibling) {
    auto parser = Loaded(L"<r><c><x><v>deep first</v></x><v>sibling second</v></c></r>");
    std::wstring text;
    ASSERT_TRUE(parser->GetText(L"v", text));
    EXPECT_EQ(L"deep first", text);
}

TEST(LibXmlParser, GetTextJoinsAllDescendantText) {
    auto parser = Loaded(
        L"<r><c><status>Bro<b>ke<i/></b><!-- note -->n<![CDATA[!]]> &amp; \u30c6</status>"
        L"<empty/></c></r>");
    std::wstring text;
    ASSERT_TRUE(parser->GetText(L"status", text));
    EXPECT_EQ(L"Broken! & \u30c6", text);
    ASSERT_TRUE(parser->GetText(L"empty", text));
    EXPECT_EQ(L"", text);
}

TEST(LibXmlParser, GetTextTrimsXmlWhiteSpaceAtBothEndsOnly) {
    struct Case {
        const wchar_t* content;  // inside <e> of <r><c>...</c></r>
        const wchar_t* text;
    };
    const Case cases[] = {
        {L"\r\n\t  Idle\n  ", L"Idle"},
        {L"  two \t words ", L"two \t words"},
        {L" \n\t\r ", L""},
        {L"<![CDATA[ cdata ]]>", L"cdata"},
        {L"&#32;&#9;referenced&#10;&#13;", L"referenced"},
        // Only space, tab, CR and LF are XML white space.
        {L"\u00a0kept\u3000", L"\u00a0kept\u3000"},
        // An indented device answer: the status text on its own line before the child.
        {L"\n      Broken\n      <additional-data>\n        <x progress=\"5\"/>\n"
         L"      </additional-data>\n    ",
         L"Broken"},
        {L"\n  Bro<b> ke </b>n\n", L"Bro ke n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        auto parser = Loaded(std::wstring(L"<r><c><e>") + c.content + L"</e></c></r>");
        std::wstring text = L"before";
        ASSERT_TRUE(parser->GetText(L"e", text));
        EXPECT_EQ(c.text, text);
    }
    // Attribute values are handed out as the parser normalised them, untrimmed.
    auto parser = Loaded(L"<r><c><e a=\" padded \"/></c></r>");
    std::wstring value;
    ASSERT_TRUE(parser->GetAttribute(L"e", L"a", value));
    EXPECT_EQ(L" padded ", value);
}

TEST(LibXmlParser, MissingAttributeLeavesTheValueAsItWas) {
    auto parser = Loaded(L"<r><c><e present=\"yes\"/></c></r>");
    std::wstring value = L"before";
    EXPECT_TRUE(parser->GetAttribute(L"e", L"absent", value));
    EXPECT_EQ(L"before", value);
    EXPECT_FALSE(parser->GetAttribute(L"missing", L"present", value));
    EXPECT_EQ(L"before", value);
    EXPECT_TRUE(parser->GetAttribute(L"e", L"present", value));
    EXPECT_EQ(L"yes", value);
}

TEST(LibXmlParser, NamesAreQualifiedNames) {
    const std::wstring document =
        std::wstring(L"<u:tesk-utility xmlns:u=\"") + kNamespace +
        L"\"><u:update><u:response success=\"true\"/></u:update></u:tesk-utility>";
    auto parser = Loaded(document, ResponseSchemaText());
    std::wstring value;
    EXPECT_FALSE(parser->GetAttribute(L"response", L"success", value));
    ASSERT_TRUE(parser->GetAttribute(L"u:response", L"success", value));
    EXPECT_EQ(L"true", value);
}

TEST(LibXmlParser, SchemaDecidesWhatLoads) {
    const std::wstring unknownElement = std::wstring(L"<tesk-utility xmlns=\"") + kNamespace +
                                        L"\"><update><response><x/></response></update>"
                                        L"</tesk-utility>";
    std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
    EXPECT_FALSE(parser->Load(unknownElement, ResponseSchemaText()));
    EXPECT_TRUE(parser->Load(unknownElement, L""));
    // A schema that cannot be parsed, or one for another namespace, validates nothing.
    EXPECT_FALSE(parser->Load(unknownElement, L"<not-a-schema/>"));
    std::wstring otherSchema = ResponseSchemaText();
    for (std::size_t at; (at = otherSchema.find(kNamespace)) != std::wstring::npos;) {
        otherSchema.replace(at, std::wcslen(kNamespace), L"urn:other");
    }
    const std::wstring otherDocument =
        L"<tesk-utility xmlns=\"urn:other\"><update><response/></update></tesk-utility>";
    EXPECT_FALSE(parser->Load(otherDocument, otherSchema));
}

// Compiled schemas are kept between answers; one kept for one text must never check a document
// against another, also with runners loading at the same time.
TEST(LibXmlParser, KeptSchemasNeverServeAnotherText) {
    const std::wstring document = std::wstring(L"<tesk-utility xmlns=\"") + kNamespace +
                                  L"\"><update><response success=\"true\"/></update>"
                                  L"</tesk-utility>";
    std::wstring otherSchema = ResponseSchemaText();
    for (std::size_t at; (at = otherSchema.find(kNamespace)) != std::wstring::npos;) {
        otherSchema.replace(at, std::wcslen(kNamespace), L"urn:other");
    }
    std::atomic<int> wrong{0};
    auto alternate = [&] {
        std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
        for (int round = 0; round < 50; ++round) {
            wrong += parser->Load(document, ResponseSchemaText()) ? 0 : 1;
            wrong += parser->Load(document, otherSchema) ? 1 : 0;
            wrong += parser->Load(document, ResponseSchemaText()) ? 0 : 1;
        }
    };
    std::vector<std::thread> runners;
    for (int i = 0; i < 4; ++i) {
        runners.emplace_back(alternate);
    }
    for (std::thread& runner : runners) {
        runner.join();
    }
    EXPECT_EQ(0, wrong.load());
}

TEST(LibXmlParser, FailedLoadLeavesNothingLoaded) {
    auto parser = Loaded(L"<r><c><e>text</e></c></r>");
    std::wstring text;
    ASSERT_TRUE(parser->GetText(L"e", text));
    EXPECT_FALSE(parser->Load(L"<r><c><e>text</c></r>", L""));
    EXPECT_FALSE(parser->GetText(L"e", text));
    std::wstring value = L"v";
    EXPECT_FALSE(parser->GetAttribute(L"e", L"a", value));
}

TEST(LibXmlParser, BadInputIsRefusedSilently) {
    const std::wstring loneSurrogate(1, static_cast<wchar_t>(0xDC00));
    const std::wstring refused[] = {
        L"",
        L"   ",
        L"plain text",
        L"<r><c></r>",
        L"<r/><r/>",
        L"<r a=\"1\" a=\"2\"/>",
        L"<r>" + loneSurrogate + L"</r>",
        L"<r>&undefined;</r>",
        // Document types are never accepted: no entity expansion, no external fetch.
        L"<!DOCTYPE r><r/>",
        L"<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r><c>&x;</c></r>",
        L"<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/r.dtd\"><r/>",
        L"<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
        L"\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        L"<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]><r><c>&d;&d;&d;</c></r>",
    };
    std::wstring deep;
    for (int i = 0; i < 100000; ++i) {
        deep += L"<a>";
    }
    for (int i = 0; i < 100000; ++i) {
        deep += L"</a>";
    }
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CreateXMLParser()->Load(deep, L"")) << "nesting beyond the parser's depth limit";
    for (const std::wstring& document : refused) {
        std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
        EXPECT_FALSE(parser->Load(document, L"")) << std::string(document.begin(), document.end());
        EXPECT_FALSE(parser->Load(document, ResponseSchemaText()));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST(LibXmlParser, TextIsReadAsUnicodeWhateverTheDeclarationSays) {
    auto parser = Loaded(
        L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><c><e>\u00e9\u30c6"
        L"</e></c></r>");
    std::wstring text;
    ASSERT_TRUE(parser->GetText(L"e", text));
    EXPECT_EQ(L"\u00e9\u30c6", text);
}

}  // namespace
}  // namespace talbo::tesk::vorta
