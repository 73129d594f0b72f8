#include <gtest/gtest.h>

#include <string>

#include "RequestBodies.h"
#include "simulator/CRequestDocumentReader.h"

using namespace talbo::tesk::vorta::devsim;

namespace {

const std::string kDigest = "0123456789abcdef0123456789abcdef";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(RequestDocumentReader, ReadsTheThreeDocumentsAsTheClientBuildsThem) {
    auto info = ReadRequestDocument(devsim_test::GetInformationDocument());
    ASSERT_TRUE(info.document) << info.error;
    EXPECT_EQ(info.document->type, RequestType::GetInformation);
    EXPECT_EQ(info.document->macAddress, devsim_test::kMac);

    auto change = ReadRequestDocument(devsim_test::ChangeModeDocument("Ver.3.01TC", kDigest));
    ASSERT_TRUE(change.document) << change.error;
    EXPECT_EQ(change.document->type, RequestType::ChangeMode);
    EXPECT_EQ(change.document->afterVersion, "Ver.3.01TC");
    EXPECT_EQ(change.document->fileDigest, kDigest);

    auto update = ReadRequestDocument(devsim_test::UpdateDocument("Ver.3.01TC", kDigest));
    ASSERT_TRUE(update.document) << update.error;
    EXPECT_EQ(update.document->type, RequestType::Update);
}

TEST(RequestDocumentReader, ResolvesEscapedTexts) {
    auto reading =
        ReadRequestDocument(devsim_test::UpdateDocument("V&amp;3&lt;&#x41;&#66;", kDigest));
    ASSERT_TRUE(reading.document) << reading.error;
    EXPECT_EQ(reading.document->afterVersion, "V&3<AB");
}

TEST(RequestDocumentReader, NamesTheFirstDeviationAndWhereItIs) {
    const std::string info = devsim_test::GetInformationDocument();
    const std::string update = devsim_test::UpdateDocument("Ver.3.01TC", kDigest);
    struct Case {
        std::string document;
        std::string expected;
    } cases[] = {
        {Replace(info, "?>\r\n", "?>\n"), "XML declaration and CR LF"},
        {Replace(info, "2012/02", "2012/03"), "utility namespace"},
        {Replace(info, "</mac-address><update>", "</mac-address> <update>"),
         "expected element \"<update>\""},
        {Replace(info, devsim_test::kMac.data(), "02:1a:2b:3c:4d:5e"), "lower-case"},
        {Replace(info, devsim_test::kMac.data(), "02-1A-2B-3C-4D-5E"), "where ':' belongs"},
        {Replace(info, devsim_test::kMac.data(), "00:00:00:00:00:00"), "all zeros"},
        {Replace(info, devsim_test::kMac.data(), "02:1A:2B"), "not 17"},
        {Replace(info, "GetInformation", "GetInfo"), "unknown request type \"GetInfo\""},
        {Replace(info, "<get-information><version/></get-information>", ""),
         "<get-information><version/>"},
        {info + "\r\n", "goes on after the root end tag"},
        {Replace(update, kDigest, "0123456789ABCDEF0123456789ABCDEF"), "not 32 lower-case"},
        {Replace(update, kDigest, ""), "not 32 lower-case"},
        {Replace(update, "Ver.3.01TC", ""), "after-version is empty"},
        {Replace(update, "Ver.3.01TC", "A&B"), "raw '&'"},
        {Replace(update, "Ver.3.01TC", "&nbsp;"), "unknown reference"},
        {Replace(update, "Ver.3.01TC", std::string("V\xC3\x28", 3)), "not valid UTF-8"},
        {Replace(update, "</request><file-digest", "<file-digest"),
         "expected end tag \"</request>\""},
    };
    for (const auto& c : cases) {
        auto reading = ReadRequestDocument(c.document);
        EXPECT_FALSE(reading.document) << c.document;
        EXPECT_NE(reading.error.find(c.expected), std::string::npos)
            << "expected \"" << c.expected << "\", got: " << reading.error;
    }
}

TEST(RequestDocumentReader, OffsetOfAnErrorPointsAtTheDifference) {
    std::string document = devsim_test::GetInformationDocument();
    std::size_t at = document.find("<update>");
    document.insert(at, "X");
    auto reading = ReadRequestDocument(document);
    EXPECT_NE(reading.error.find("at offset " + std::to_string(at) + ", found \"X<update>"),
              std::string::npos)
        << reading.error;
}
