#include "tool/app/CCarriedFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>

#include "common/IniFile.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CarriedBlobs.h"

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;

class CarriedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        tv::SetCarriedBlobTable(blobs);
        dir = fs::temp_directory_path() / ("vorta-carried-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        tv::SetCarriedBlobTable({});
        fs::remove_all(dir);
    }

    static constexpr std::array<std::uint8_t, 4> payload{1, 2, 3, 0xFF};
    const std::array<tv::CarriedBlob, 2> blobs{{
        {L"LANGUAGE", 140, payload},
        {L"LANGUAGE", 141, {}},
    }};
    fs::path dir;
};

TEST_F(CarriedFileTest, WritesAPrivateFileAndDeletesItWhenDestroyed) {
    const fs::path path = dir / "ui.lng";
    {
        tv::CCarriedFile file(L"LANGUAGE", 140);
        ASSERT_TRUE(file.WriteTo(path));
        EXPECT_EQ(file.GetWrittenPath(), path);
        EXPECT_EQ(*talbo::tesk::vorta::common::ReadWholeFile(path),
                  std::string("\x01\x02\x03\xFF", 4));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_FALSE(file.WriteTo(dir / "second"));  // one object writes one file
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(CarriedFileTest, RefusesMissingOrEmptyBlobsExistingFilesAndLinks) {
    EXPECT_FALSE(tv::CCarriedFile(L"LANGUAGE", 142).WriteTo(dir / "a"));
    EXPECT_FALSE(tv::CCarriedFile(L"language", 140).WriteTo(dir / "a"));  // type matches exactly
    EXPECT_FALSE(tv::CCarriedFile(L"LANGUAGE", 141).WriteTo(dir / "a"));  // empty blob
    EXPECT_FALSE(fs::exists(dir / "a"));

    // A file or a symbolic link someone placed at the path is never written through.
    const fs::path planted = dir / "planted";
    talbo::tesk::vorta::common::ReplaceFileAtomically(planted, "keep");
    fs::create_symlink(planted, dir / "link");
    EXPECT_FALSE(tv::CCarriedFile(L"LANGUAGE", 140).WriteTo(planted));
    EXPECT_FALSE(tv::CCarriedFile(L"LANGUAGE", 140).WriteTo(dir / "link"));
    EXPECT_EQ(*talbo::tesk::vorta::common::ReadWholeFile(planted), "keep");
}

TEST(ResultLogPath, BesideTheExecutableOrUnderTheStateFolder) {
    const fs::path dir =
        fs::temp_directory_path() / ("vorta-logpath-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    EXPECT_EQ(tv::CFilePath::ResultLogPath(dir / "VortaFWUpdateTool"),
              dir / "VortaFWUpdateTool.log");

    // A folder that cannot take the log sends it to $XDG_STATE_HOME/VortaFWUpdateTool/.
    const char* old = std::getenv("XDG_STATE_HOME");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    EXPECT_EQ(tv::CFilePath::ResultLogPath(dir / "missing" / "VortaFWUpdateTool"),
              dir / "state" / "VortaFWUpdateTool" / "VortaFWUpdateTool.log");
    EXPECT_TRUE(fs::is_directory(dir / "state" / "VortaFWUpdateTool"));
    // An installed tool never writes beside itself, even as root who could.
    for (const char* installed : {"/usr/bin/VortaFWUpdateTool", "/usr/local/bin/VortaFWUpdateTool",
                                  "/opt/vorta/bin/VortaFWUpdateTool", "/usr/../usr/bin/X"}) {
        EXPECT_EQ(tv::CFilePath::ResultLogPath(installed).parent_path(),
                  dir / "state" / "VortaFWUpdateTool")
            << installed;
    }
    EXPECT_FALSE(tv::CFilePath::InSystemPrefix("/usrlocal/bin"));
    EXPECT_FALSE(tv::CFilePath::InSystemPrefix("/home/op/opt/bin"));
    if (old != nullptr) {
        ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_STATE_HOME");
    }
    fs::remove_all(dir);
}
