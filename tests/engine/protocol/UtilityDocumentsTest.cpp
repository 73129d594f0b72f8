#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/model/CUpdateImagePart.h"
#include "engine/protocol/CXMLFactory.h"
#include "engine/protocol/MacAddressList.h"
#include "engine/protocol/UpdateConnectionFactory.h"
#include "engine/protocol/UtilityDocuments.h"

namespace talbo::tesk::vorta {
namespace {

const std::wstring kStart =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    L"<tesk-utility xmlns=\"http://www.talbo.com/schemas/2012/02/tesk-utility\">"
    L"<mac-address>00:0A:B0:C1:D2:EF</mac-address><update>";

// Two interfaces: only the first address names the computer.
class UtilityDocumentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = SetInterfaceTableReader([](std::vector<CInterfaceRow>& rows) {
            rows = {{{0, 0, 0, 0, 0, 0}},
                    {{0x00, 0x0A, 0xB0, 0xC1, 0xD2, 0xEF}},
                    {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}}};
            return true;
        });
    }
    void TearDown() override { SetInterfaceTableReader(previous); }

    InterfaceTableReader previous;
};

TEST_F(UtilityDocumentsTest, GetInformationDocument) {
    std::wstring document = L"kept|";
    ASSERT_EQ(0, AppendGetInformationDocument(document));
    EXPECT_EQ(L"kept|" + kStart +
                  L"<request type=\"GetInformation\">"
                  L"<get-information><model-name/></get-information>"
                  L"<get-information><version/></get-information>"
                  L"<get-information><status/></get-information>"
                  L"</request></update></tesk-utility>",
              document);
}

TEST_F(UtilityDocumentsTest, ChangeModeAndUpdateDocumentsDifferOnlyInTheType) {
    CUpdateImagePart part(L"1", L"BackupSettingValue", L"Ver.3.01TC", ByteSequence{1, 2},
                          L"0123456789abcdef0123456789abcdef");
    for (const wchar_t* type : {kChangeModeRequest, kUpdateRequest}) {
        std::wstring document;
        ASSERT_EQ(0, AppendImagePartDocument(type, part, document));
        EXPECT_EQ(kStart + L"<request type=\"" + type +
                      L"\"><after-version>Ver.3.01TC</after-version></request>"
                      L"<file-digest value=\"0123456789abcdef0123456789abcdef\"/>"
                      L"</update></tesk-utility>",
                  document);
    }
}

TEST_F(UtilityDocumentsTest, EmptyDigestAndValuesThatNeedEscaping) {
    CUpdateImagePart part(L"1", L"P", L"Ver<3>&\"1\"", ByteSequence{}, L"");
    std::wstring document;
    ASSERT_EQ(0, AppendImagePartDocument(kUpdateRequest, part, document));
    EXPECT_NE(std::wstring::npos,
              document.find(L"<after-version>Ver&lt;3&gt;&amp;&quot;1&quot;</after-version>"));
    EXPECT_NE(std::wstring::npos, document.find(L"<file-digest value=\"\"/>"));
    EXPECT_EQ(L"Ver.3.01TC", EscapeXmlText(L"Ver.3.01TC"));

    // The escaped document still reads back with the original value.
    std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
    ASSERT_TRUE(parser->Load(document, L""));
    std::wstring version;
    ASSERT_TRUE(parser->GetText(L"after-version", version));
    EXPECT_EQ(L"Ver<3>&\"1\"", version);
}

TEST_F(UtilityDocumentsTest, NoUsableAddressBuildsNothing) {
    SetInterfaceTableReader([](std::vector<CInterfaceRow>& rows) {
        rows = {{{0, 0, 0, 0, 0, 0}}};
        return true;
    });
    CUpdateImagePart part(L"1", L"P", L"v", ByteSequence{}, L"");
    std::wstring document = L"kept";
    EXPECT_EQ(-1, AppendGetInformationDocument(document));
    EXPECT_EQ(-1, AppendImagePartDocument(kChangeModeRequest, part, document));
    EXPECT_EQ(L"kept", document);
}

std::wstring Response(const std::wstring& inside) {
    return L"<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           L"<tesk-utility xmlns=\"http://www.talbo.com/schemas/2012/02/tesk-utility\">" +
           inside + L"</tesk-utility>";
}

TEST(ResponseSchema, AcceptsWhatDevicesAnswer) {
    const std::wstring& schema = ResponseSchemaText();
    const std::vector<std::wstring> valid = {
        Response(L"<update><response success=\"true\"><model-name>VX-100</model-name>"
                 L"<version>Ver.2.00</version><status>Idle</status></response></update>"),
        Response(L"<update><response/></update>"),
        Response(L"<update><response><version>1</version></response></update>"),
        Response(L"<update><response success=\"true\"><status>Broken<additional-data>"
                 L"<update-not-complete progress=\"5\" version=\"Ver.3.01TC\"/>"
                 L"</additional-data></status><model-name>M</model-name></response></update>"),
        Response(L"<update><response success=\"false\"><reason>AnotherApp<additional-data>"
                 L"<another-app app-name=\"Print\"/></additional-data></reason></response>"
                 L"</update>"),
    };
    for (const std::wstring& document : valid) {
        std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
        EXPECT_TRUE(parser->Load(document, schema))
            << std::string(document.begin(), document.end());
    }
}

TEST(ResponseSchema, RefusesEverythingElse) {
    const std::wstring& schema = ResponseSchemaText();
    const std::vector<std::wstring> invalid = {
        Response(L"<update><response/></update><update><response/></update>"),
        Response(L"<update><response success=\"maybe\"/></update>"),
        Response(L"<update/>"),
        Response(L""),
        Response(L"<update><response><model-name>a</model-name><model-name>b</model-name>"
                 L"</response></update>"),
        Response(L"<update><response><colour>red</colour></response></update>"),
        Response(L"<update><response><reason>x<additional-data><update-not-complete/>"
                 L"</additional-data></reason></response></update>"),
        L"<tesk-utility xmlns=\"http://example.invalid/other\"><update><response/></update>"
        L"</tesk-utility>",
        L"<tesk-utility><update><response/></update></tesk-utility>",
    };
    for (const std::wstring& document : invalid) {
        std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
        EXPECT_FALSE(parser->Load(document, schema))
            << std::string(document.begin(), document.end());
    }
}

}  // namespace
}  // namespace talbo::tesk::vorta
