#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/model/CBasicRCXFileParser.h"

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;

namespace {

// Exit status of vorta-mkimage run with args; its standard output and error go to the files
// given, else are discarded.
int RunMkImage(const std::vector<std::string>& args, const fs::path& out = "/dev/null",
               const fs::path& err = "/dev/null") {
    const pid_t child = ::fork();
    if (child == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
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

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[digest[i] >> 4U];
        hex += kDigits[digest[i] & 0x0FU];
    }
    return hex;
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

    // Runs vorta-mkimage; its exit status, with what it wrote in out and err.
    int Run(const std::vector<std::string>& args, std::string& out, std::string& err) {
        const int status = RunMkImage(args, dir / "stdout.txt", dir / "stderr.txt");
        out = ReadAll(dir / "stdout.txt");
        err = ReadAll(dir / "stderr.txt");
        fs::remove(dir / "stdout.txt");
        fs::remove(dir / "stderr.txt");
        return status;
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
    std::string out;
    std::string err;
    EXPECT_EQ(Run({"--verify", image.string()}, out, err), 0) << err;
    EXPECT_EQ(out, image.string() + ": ok\n");
}

// --info shows what the header says and what the file holds, and the file's SHA-256.
TEST_F(ImageWriterTest, InfoPrintsTheHeaderTheFramingAndTheDigest) {
    const fs::path blockFile = dir / "block.bin";
    std::ofstream(blockFile, std::ios::binary) << std::string("file\xFF\0bytes", 11);
    const std::string image = (dir / "out.rcx").string();
    ASSERT_EQ(RunMkImage({"--out", image, "--image-version", "V2", "--step",
                          "Alpha:1:10,@" + blockFile.string(), "--step", "Beta:-4:5"}),
              0);
    const std::string file = ReadAll(image);
    std::string out;
    std::string err;
    EXPECT_EQ(Run({"--info", image}, out, err), 0) << err;
    EXPECT_EQ(out, "image: " + image + "\nsize: " + std::to_string(file.size()) +
                       " bytes\nheader: " + std::to_string(file.find('\xFF')) +
                       " bytes, then the separator byte\n"
                       "version: V2\nsteps: 2\n"
                       "step 1: Alpha, number 1, block sizes 10 11\n"
                       "step 2: Beta, number -4, block sizes 5\n"
                       "blocks: 3, 26 bytes (header states 26)\n"
                       "framing: ok\n"
                       "sha256: " +
                       Sha256Hex(file) + "\n");
}

// Every fault of the framing is named and makes --verify fail; --info shows it too. The engine
// refuses each of these images as well, except bytes after the last marker, which it ignores
// but the format does not allow.
TEST_F(ImageWriterTest, VerifyRefusesEveryFaultOfTheFraming) {
    const fs::path blockFile = dir / "block.bin";
    std::ofstream(blockFile, std::ios::binary) << std::string("no separator in here", 20);
    const std::string good = (dir / "good.rcx").string();
    ASSERT_EQ(RunMkImage({"--out", good, "--image-version", "V2", "--step",
                          "Alpha:1:@" + blockFile.string() + ",@" + blockFile.string(), "--step",
                          "Beta:2:@" + blockFile.string()}),
              0);
    const std::string intact = ReadAll(good);
    const std::size_t separator = intact.find('\xFF');
    const auto replace = [](const std::string& from, const std::string& to) {
        return [from, to](std::string& bytes) {
            const std::size_t at = bytes.find(from);
            ASSERT_NE(at, std::string::npos) << from;
            bytes.replace(at, from.size(), to);
        };
    };
    const struct {
        const char* what;
        std::function<void(std::string&)> damage;
        std::string named;
        bool engineAccepts;
    } cases[] = {
        {"damaged marker after the second block",
         [&](std::string& bytes) { bytes[separator + 1 + 20 + 25 + 20 + 3] ^= 0x20; },
         "block 2 (Alpha1) is not followed by the block marker", false},
        {"stated total one more than the blocks hold", replace("5=\"60\"", "5=\"61\""),
         "the header states a total of 61 bytes, the blocks hold 60", false},
        {"cut inside the last block", [](std::string& bytes) { bytes.resize(bytes.size() - 30); },
         "the file ends inside block 3 (Beta)", false},
        {"last marker incomplete", [](std::string& bytes) { bytes.pop_back(); },
         "the file ends before the block marker of block 3 (Beta)", false},
        {"a byte after the last marker", [](std::string& bytes) { bytes += 'x'; },
         "1 byte follows the last block marker", true},
        {"no separator byte", [&](std::string& bytes) { bytes[separator] = '\n'; },
         "no separator byte 0xFF ends the header", false},
        {"second magic line differs", replace("TalboNet Form", "TalboNet Farm"),
         "line 2 of the header is not", false},
        {"step number 0", replace("7.2.0=\"2\"", "7.2.0=\"0\""),
         "step 2 (Beta) has no non-zero number", false},
    };
    std::string out;
    std::string err;
    ASSERT_EQ(Run({"--verify", good}, out, err), 0) << err;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = intact;
        c.damage(bytes);
        const fs::path image = dir / "damaged.rcx";
        std::ofstream(image, std::ios::binary | std::ios::trunc) << bytes;
        EXPECT_EQ(Run({"--verify", image.string()}, out, err), 3);
        EXPECT_EQ(out, "");
        EXPECT_NE(err.find(image.string() + ": " + c.named), std::string::npos) << err;
        EXPECT_EQ(Run({"--info", image.string()}, out, err), 3);
        EXPECT_NE(out.find("\nfault: " + c.named), std::string::npos) << out;
        EXPECT_NE(out.find("\nsha256: " + Sha256Hex(bytes) + "\n"), std::string::npos) << out;
        parts.clear();
        EXPECT_EQ(Parse(image) == 0, c.engineAccepts);
    }
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
        {"--info"},
        {"--verify", out, "--out", out},
        {"--out", out, "--info", out},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(RunMkImage(args), 2);
    }
    EXPECT_EQ(RunMkImage({"--out", (dir / "no-dir" / "x.rcx").string(), "--version", "V", "--step",
                          "S:1:10"}),
              1);
    EXPECT_EQ(RunMkImage({"--verify", (dir / "missing.rcx").string()}), 1);
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(RunMkImage({"--help"}), 0);
}

}  // namespace
