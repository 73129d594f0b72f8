#include "tool/app/CCarriedFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/IniFile.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"
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
        for (const auto& [page, size] : mappings) {
            ::munmap(page, size);
        }
    }

    // "abc" at the start of a page of a new file, mapped as the executable's blobs are.
    std::span<const std::uint8_t> MapAbc(const fs::path& path) {
        std::string content(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), 'x');
        talbo::tesk::vorta::common::ReplaceFileAtomically(path, content.replace(0, 3, "abc"));
        const int fd = ::open(path.c_str(), O_RDONLY);
        void* page = ::mmap(nullptr, content.size(), PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        EXPECT_NE(page, MAP_FAILED);
        mappings.emplace_back(page, content.size());
        return {static_cast<const std::uint8_t*>(page), 3};
    }

    static constexpr std::array<std::uint8_t, 4> payload{1, 2, 3, 0xFF};
    const std::array<tv::CarriedBlob, 2> blobs{{
        {L"LANGUAGE", 140, payload},
        {L"LANGUAGE", 141, {}},
    }};
    fs::path dir;
    std::vector<std::pair<void*, std::size_t>> mappings;
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

// SHA-256 of "abc" (FIPS 180-2, appendix B.1) and of one million "a" (B.3).
constexpr std::string_view kAbc =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr std::string_view kMillionA =
    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

// The digest is of exactly the bytes written, one chunk or many, from memory or from the file
// the bytes are mapped from.
TEST_F(CarriedFileTest, DigestedCopyHoldsTheBlobAndItsDigest) {
    const std::vector<std::uint8_t> millionA(1000000, 'a');
    const struct {
        std::span<const std::uint8_t> bytes;
        std::string_view sha256;
    } cases[] = {{millionA, kMillionA}, {MapAbc(dir / "mapped"), kAbc}};
    for (const auto& c : cases) {
        const std::array<tv::CarriedBlob, 1> table{{{L"UPDATE_FILE", 138, c.bytes}}};
        tv::SetCarriedBlobTable(table);
        tv::CCarriedFile file(L"UPDATE_FILE", 138);
        ASSERT_TRUE(file.WriteDigestedTo(dir / "image"));
        EXPECT_EQ(file.GetWrittenSha256(), c.sha256);
        EXPECT_TRUE(*talbo::tesk::vorta::common::ReadWholeFile(dir / "image") ==
                    std::string(c.bytes.begin(), c.bytes.end()));
    }
}

// The image the engine is given is checked as it is copied: when the tool's file changed under
// its mapping after start-up, the copy is deleted, never offered to the engine, and told apart
// from an image the engine refused.
TEST_F(CarriedFileTest, ImageCopyThatDiffersFromTheRecordedDigestIsNeverLoaded) {
    const std::array<tv::CarriedBlob, 1> table{{{L"UPDATE_FILE", 138, MapAbc(dir / "tool"), kAbc}}};
    tv::SetCarriedBlobTable(table);
    using EImageLoad = tv::CVortaFWUpdateToolUIApp::EImageLoad;
    tv::CVortaFWUpdateToolUIApp app;  // no engine loaded: an intact copy goes no further
    const fs::path copy = dir / "updateImage";
    EXPECT_EQ(app.LoadCarriedImage(copy), EImageLoad::Refused);

    const int fd = ::open((dir / "tool").c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "d", 1, 2), 1);
    ::close(fd);
    EXPECT_EQ(app.LoadCarriedImage(copy), EImageLoad::CopyCorrupt);
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_NE(app.ImageCopyFailure().find(kAbc), std::string::npos);
    EXPECT_FALSE(app.ExtractAndLoadImage(copy));
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
