#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/model/CBasicRCXFileParser.h"

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;

namespace {

// Exit status of vorta-mkimage run with args, its output discarded.
int RunMkImage(const std::vector<std::string>& args) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(VORTA_MKIMAGE));
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(VORTA_MKIMAGE, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ImageWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vorta-mkimage-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    int Parse(const fs::path& image) {
        const std::string narrow = image.string();
        return parser.Parse(std::wstring(narrow.begin(), narrow.end()), parts);
    }

    fs::path dir;
    tv::CBasicRCXFileParser parser;
    tv::CUpdateImagePartList parts;
};

TEST_F(ImageWriterTest, WritesStepsFromSizesAndFiles) {
    const fs::path blockFile = dir / "block.bin";
    const std::string blockBytes("file\xFF\0bytes", 11);
    std::ofstream(blockFile, std::ios::binary) << blockBytes;
    const fs::path image = dir / "out.rcx";
    ASSERT_EQ(RunMkImage({"--out", image.string(), "--version", "V2", "--step",
                          "Alpha:1:10,@" + blockFile.string(), "--step", "Beta:-4:5"}),
              0);

    const std::string file = ReadAll(image);
    const std::string header =
        "RCX\r\nOKRIM TALBO TalboNet Form\r\n"
        "[A]\r\n1=\"1\"\r\n2=\"7\"\r\n3=\"XelBasic\"\r\n5=\"TC\"\r\n"
        "[C]\r\n1=\"1\"\r\n2=\"1\"\r\n"
        "[E]\r\n1=\"1\"\r\n2=\"400\"\r\n3=\"0\"\r\n7=\"V2\"\r\n"
        "7.1=\"Alpha\"\r\n7.1.0=\"1\"\r\n7.1.1=\"10\"\r\n7.1.2=\"11\"\r\n"
        "7.2=\"Beta\"\r\n7.2.0=\"-4\"\r\n7.2.1=\"5\"\r\n"
        "[Z_1]\r\n1=\"Firmware\"\r\n3=\"V2\"\r\n4=\"V2\"\r\n5=\"26\"\r\n";
    EXPECT_EQ(file.substr(0, header.size()), header);

    ASSERT_EQ(Parse(image), 0);
    ASSERT_EQ(parts.size(), 3U);
    EXPECT_EQ(parts[0]->GetName(), L"Alpha");
    EXPECT_EQ(parts[1]->GetName(), L"Alpha1");
    EXPECT_EQ(parts[2]->GetName(), L"Beta");
    EXPECT_EQ(parts[2]->GetNumber(), L"-4");
    EXPECT_EQ(parts[0]->GetData().size(), 10U);
    const tv::ByteSequence& copied = parts[1]->GetData();
    EXPECT_EQ(std::string(copied.begin(), copied.end()), blockBytes);
    EXPECT_EQ(parts[2]->GetData().size(), 5U);
}

TEST_F(ImageWriterTest, SameSeedGivesTheSameImage) {
    const std::vector<std::string> step = {"--version", "V", "--step", "S:1:100000,7"};
    auto with = [&](const std::string& name, const std::string& seed) {
        std::vector<std::string> args = {"--out", (dir / name).string(), "--seed", seed};
        args.insert(args.end(), step.begin(), step.end());
        EXPECT_EQ(RunMkImage(args), 0);
        return ReadAll(dir / name);
    };
    const std::string a = with("a.rcx", "42");
    EXPECT_EQ(with("b.rcx", "42"), a);
    const std::string c = with("c.rcx", "43");
    EXPECT_EQ(c.size(), a.size());
    EXPECT_NE(c, a);
}

TEST_F(ImageWriterTest, StandInHasTheCarriedImagesHeader) {
    const fs::path image = dir / "updateimages.rcx";
    ASSERT_EQ(RunMkImage({"--out", image.string(), "--stand-in"}), 0);
    const std::string file = ReadAll(image);
    ASSERT_EQ(file.find('\xFF'), 769U);
    EXPECT_EQ(file.size(), 769U + 1U + 110778720U + 11U * 25U);
    EXPECT_EQ(file.substr(0, 5), "RCX\r\n");
    EXPECT_NE(file.find("7.11=\"WriteNewBootStrap\"\r\n7.11.0=\"11\"\r\n7.11.1=\"20512\"\r\n"),
              std::string::npos);
    EXPECT_EQ(file.substr(769 - 15, 15), "5=\"110778720\"\r\n");
}

TEST_F(ImageWriterTest, RefusesBadArgumentsAndLeavesNoFile) {
    const std::string out = (dir / "bad.rcx").string();
    const std::vector<std::vector<std::string>> bad = {
        {"--version", "V", "--step", "S:1:10"},
        {"--out", out, "--step", "S:1:10"},
        {"--out", out, "--version", "V"},
        {"--out", out, "--version", "V", "--step", "S:0:10"},
        {"--out", out, "--version", "V", "--step", "S:1:0"},
        {"--out", out, "--version", "V", "--step", "S:1:2147483648"},
        {"--out", out, "--version", "V", "--step", "S:1:"},
        {"--out", out, "--version", "V", "--step", "S:1:12x"},
        {"--out", out, "--version", "V", "--step", "S:1"},
        {"--out", out, "--version", "V", "--step", ":1:10"},
        {"--out", out, "--version", "V", "--step", "S:1:@" + (dir / "missing").string()},
        {"--out", out, "--version", "V\"", "--step", "S:1:10"},
        {"--out", out, "--stand-in", "--step", "S:1:10"},
        {"--out", out, "--version", "V", "--step", "S:1:10", "--seed", "x"},
        {"--out", out, "--bogus"},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(RunMkImage(args), 2);
    }
    EXPECT_EQ(RunMkImage({"--out", (dir / "no-dir" / "x.rcx").string(), "--version", "V", "--step",
                          "S:1:10"}),
              1);
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(RunMkImage({"--help"}), 0);
}

}  // namespace
