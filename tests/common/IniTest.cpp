#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "common/IniDocument.h"
#include "common/IniFile.h"

namespace vc = talbo::tesk::vorta::common;
namespace fs = std::filesystem;

TEST(IniDocument, ReadsValuesAsWritten) {
    const auto doc = vc::IniDocument::Parse(
        L"RCX\r\n[E]\r\n7 = \"Ver.3.01TC\" \r\n7.1=\"\"\r\nplain=  two words \r\n"
        L"; comment=no\r\nquoted=\"a\"b\"\r\n[z_1]\r\n5=\"42\"\r\n");
    EXPECT_EQ(doc.Get(L"E", L"7"), L"Ver.3.01TC");
    EXPECT_EQ(doc.Get(L"e", L"7.1"), L"");
    EXPECT_EQ(doc.Get(L"E", L"plain"), L"two words");
    EXPECT_EQ(doc.Get(L"E", L"quoted"), L"a\"b");  // only the outer pair goes
    EXPECT_EQ(doc.Get(L"Z_1", L"5"), L"42");
    EXPECT_FALSE(doc.Get(L"E", L"; comment"));
    EXPECT_FALSE(doc.Get(L"E", L"5"));
    EXPECT_FALSE(doc.Get(L"missing", L"7"));
}

TEST(IniDocument, FirstOccurrenceWinsAcrossRepeatedSections) {
    const auto doc = vc::IniDocument::Parse(L"[S]\nk=1\nK=2\n[T]\nk=3\n[s]\nk=4\nj=5\n");
    EXPECT_EQ(doc.Get(L"S", L"k"), L"1");
    EXPECT_EQ(doc.Get(L"S", L"j"), L"5");
    EXPECT_EQ(doc.Keys(L"s"), (std::vector<std::wstring>{L"k", L"j"}));
}

TEST(IniDocument, WritesInPlaceThenInSectionThenNewSection) {
    auto doc = vc::IniDocument::Parse(L"; head\r\n[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
    doc.Set(L"a", L"X", L"9");    // replaces in place, keeps position
    doc.Set(L"A", L"new", L"n");  // appended after the section's last non-empty line
    doc.Set(L"C", L"k", L"v");    // new section at the end
    EXPECT_EQ(doc.Serialize(),
              L"; head\r\n[A]\r\nX=9\r\ny=2\r\nnew=n\r\n\r\n[B]\r\nz=3\r\n[C]\r\nk=v\r\n");
    EXPECT_EQ(doc.Get(L"A", L"x"), L"9");
}

TEST(IniDocument, ReplaceSectionDropsTheOldKeysInPlaceOrAppends) {
    auto doc = vc::IniDocument::Parse(L"[A]\r\nx=1\r\nstale=2\r\n\r\n[B]\r\nz=3\r\n\r\n");
    doc.ReplaceSection(L"a", {{L"x", L"9"}, {L"X", L"10"}});  // a repeated key is kept
    doc.ReplaceSection(L"C", {{L"k", L"v"}});
    EXPECT_EQ(doc.Serialize(), L"[a]\r\nx=9\r\nX=10\r\n[B]\r\nz=3\r\n[C]\r\nk=v\r\n");
    EXPECT_EQ(doc.Get(L"A", L"x"), L"9");
    EXPECT_FALSE(doc.Get(L"A", L"stale"));
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("vorta-ini-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(IniFileTest, KeepsTheEncodingItReadAndReplacesAtomically) {
    const fs::path path = dir / "ui.lng";
    // UTF-16LE with BOM: "[S]\r\nk=\u3042\r\n", sized by the array as the bytes hold NULs.
    constexpr char kBytes[] = "\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\x42\x30\r\0\n\0";
    const std::string utf16(kBytes, sizeof kBytes - 1);
    { std::ofstream(path, std::ios::binary) << utf16; }
    auto file = vc::IniFile::Load(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Encoding(), vc::TextEncoding::Utf16LE);
    EXPECT_EQ(file->Document().Get(L"S", L"k"), L"\u3042");
    file->Document().Set(L"S", L"k", L"\U0001F600");
    ASSERT_TRUE(file->Save());
    const auto again = vc::IniFile::Load(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Document().Get(L"S", L"k"), L"\U0001F600");
    // Only the file itself remains: the temporary copy was renamed over it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
}

TEST_F(IniFileTest, DetectsUtf8AndSingleByteText) {
    const fs::path a = dir / "a.ini";
    const fs::path b = dir / "b.ini";
    { std::ofstream(a, std::ios::binary) << "[S]\nk=\xC3\xA9\n"; }
    { std::ofstream(b, std::ios::binary) << "[S]\nk=\xE9\n"; }
    auto fa = vc::IniFile::Load(a);
    auto fb = vc::IniFile::Load(b);
    ASSERT_TRUE(fa && fb);
    EXPECT_EQ(fa->Encoding(), vc::TextEncoding::Utf8);
    EXPECT_EQ(fb->Encoding(), vc::TextEncoding::SingleByte);
    EXPECT_EQ(fa->Document().Get(L"S", L"k"), L"\u00e9");
    EXPECT_EQ(fb->Document().Get(L"S", L"k"), L"\u00e9");
}

// A file whose own text the writer cannot reproduce in its encoding must still take a new key:
// a result log that can no longer be written loses every later record.
TEST_F(IniFileTest, SavesNewTextsWhateverTheFileHeld) {
    struct Case {
        const char* what;
        std::string bytes;  // key "old" in section S holds one character
        wchar_t oldValue;
        vc::TextEncoding savedAs;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"single-byte text, new text beyond it", "[S]\r\nold=\xE9\r\n"s, L'\u00E9',
         vc::TextEncoding::Utf8},
        {"UTF-16 with an unpaired surrogate", "\xFF\xFE[\0S\0]\0\n\0o\0l\0d\0=\0\x3D\xDA\n\0"s,
         static_cast<wchar_t>(0xDA3D), vc::TextEncoding::Utf16LE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = dir / "run.log";
        { std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes; }
        auto file = vc::IniFile::Load(path);
        ASSERT_TRUE(file);
        file->Document().Set(L"S", L"new", L"\u8A8D\u8B58");
        ASSERT_TRUE(file->Save());
        EXPECT_EQ(file->Encoding(), c.savedAs);
        const auto again = vc::IniFile::Load(path);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->Document().Get(L"S", L"old"), std::wstring(1, c.oldValue));
        EXPECT_EQ(again->Document().Get(L"S", L"new"), L"\u8A8D\u8B58");
    }
}

TEST_F(IniFileTest, MissingFileStartsEmptyAndKeepsModeOfExistingFile) {
    const fs::path path = dir / "run.log";
    EXPECT_FALSE(vc::IniFile::Load(path));
    auto file = vc::IniFile::LoadOrEmpty(path);
    ASSERT_TRUE(file);
    file->Document().Set(L"LAST_POS", L"NO", L"000");
    ASSERT_TRUE(file->Save());
    ::chmod(path.c_str(), 0640);
    file->Document().Set(L"LAST_POS", L"NO", L"001");
    ASSERT_TRUE(file->Save());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(*vc::ReadWholeFile(path), "[LAST_POS]\r\nNO=001\r\n");
}

TEST_F(IniFileTest, FailedReplaceLeavesTheOldFile) {
    const fs::path path = dir / "missing-folder" / "x.ini";
    EXPECT_FALSE(vc::ReplaceFileAtomically(path, "data"));
    EXPECT_FALSE(fs::exists(path));
}
