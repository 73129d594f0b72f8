#include "tool/app/CUIStringTable.h"

#include <gtest/gtest.h>

#include "engine/interface/ResultCodes.h"

#include <fstream>

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;

namespace {

const fs::path kResources = fs::path(VORTA_SOURCE_DIR) / "tool" / "resources";

fs::path WriteUtf16File(const std::string& name, const std::u16string& text) {
    const fs::path path = fs::temp_directory_path() / (name + std::to_string(::getpid()));
    std::ofstream out(path, std::ios::binary);
    out.write("\xFF\xFE", 2);
    for (const char16_t c : text) {
        out.put(static_cast<char>(c & 0xFF));
        out.put(static_cast<char>(c >> 8));
    }
    return path;
}

}  // namespace

TEST(UIStringTable, CarriedEnglishFileGivesTheTextsAndResultTexts) {
    tv::CUIStringTable table;
    table.LoadDefaults();
    ASSERT_TRUE(table.LoadFile(kResources / "en" / "ui.lng"));
    EXPECT_EQ(table.GetText(L"MSG-100"), L"Invalid device name\nInput correct device name.");
    EXPECT_EQ(table.GetText(L"FSTR-0000"), L"QX Vorta Ver.3.01TC Firmware Update Tool");
    EXPECT_EQ(table.GetText(L"STR-000"), L"Device List File(*.txt)|*.txt||");
    EXPECT_EQ(table.GetText(L"FSTR-0204"), L"&Refer...");
    EXPECT_EQ(table.GetResultText(-6), L"Failed to rewrite - printing.");
    EXPECT_EQ(table.GetResultText(-3), L"Failed to communicate.");
    EXPECT_EQ(table.GetResultText(-15), L"");
    EXPECT_EQ(table.GetResultText(0), L"");
    // The licence key keeps its default until the licence file is read.
    EXPECT_EQ(table.GetText(L"FSTR-0102"), L"FSTR-0102");
}

// A result the engine can end a device with must never reach the operator as an empty cell or a
// bare key: every failure code has a text in both carried languages.
TEST(UIStringTable, EveryFailureResultHasAText) {
    for (const char* language : {"en", "ja"}) {
        tv::CUIStringTable table;
        table.LoadDefaults();
        ASSERT_TRUE(table.LoadFile(kResources / language / "ui.lng"));
        for (const tv::SResultName& result : tv::kResultNames) {
            const int code = tv::ToInt(result.code);
            if (tv::IsSuccess(code) || tv::IsAwaitingAnswer(code)) {
                continue;
            }
            const std::wstring text = table.GetResultText(code);
            EXPECT_FALSE(text.empty()) << language << " " << code;
            EXPECT_NE(text.rfind(L"STR-", 0), 0U) << language << " " << code;
        }
    }
}

TEST(UIStringTable, CarriedJapaneseFileAndLicences) {
    tv::CUIStringTable table;
    table.LoadDefaults();
    ASSERT_TRUE(table.LoadFile(kResources / "ja" / "ui.lng"));
    EXPECT_EQ(table.GetText(L"FSTR-0204"), L"参照(&R)…");
    EXPECT_EQ(table.GetText(L"MSG-102"), L"通信テストは成功しました。");
    ASSERT_TRUE(table.LoadLicenceText(kResources / "ja" / "eula.txt",
                                      tv::CUIStringTable::LicenceEncoding::Cp932));
    const std::wstring licence = table.GetText(L"FSTR-0102");
    EXPECT_EQ(licence.rfind(L"使用許諾契約書\r\n", 0), 0u);
    EXPECT_EQ(licence.find(L'\uFFFD'), std::wstring::npos);
    ASSERT_TRUE(table.LoadLicenceText(kResources / "en" / "eula.txt",
                                      tv::CUIStringTable::LicenceEncoding::Ascii));
    EXPECT_EQ(table.GetText(L"FSTR-0102").rfind(L"END USER LICENSE AGREEMENT\r\n", 0), 0u);
    EXPECT_FALSE(
        table.LoadLicenceText("/nonexistent/eula.txt", tv::CUIStringTable::LicenceEncoding::Ascii));
    EXPECT_EQ(table.GetText(L"FSTR-0102"), L"");
}

TEST(UIStringTable, FileRulesCutEscapesCaseAndMissingKeys) {
    const std::u16string longValue(300, u'x');
    const fs::path path = WriteUtf16File(
        "ui-test", u"[string]\r\nmsg-100 = one\\ntwo\\tthree \r\nSTR-001 = " + longValue +
                       u"\r\nFSTR-0102 = not the licence\r\nXYZ-1 = ignored\r\n");
    tv::CUIStringTable table;
    table.LoadDefaults();
    table.LoadFile(path);
    fs::remove(path);
    EXPECT_EQ(table.GetText(L"MSG-100"), L"one\ntwo\tthree");
    EXPECT_EQ(table.GetText(L"STR-001"), std::wstring(255, L'x'));
    EXPECT_EQ(table.GetText(L"FSTR-0106"), L"");  // missing: empty, not the key's name
    EXPECT_EQ(table.GetText(L"FSTR-0102"), L"FSTR-0102");
    EXPECT_EQ(table.GetText(L"XYZ-1"), L"");
}
