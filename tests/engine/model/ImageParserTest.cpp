#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "engine/model/CBasicRCXFileParser.h"
#include "tests/engine/model/ImageParserTestSupport.h"

namespace tv = talbo::tesk::vorta;
using vorta_test::ImageFor;
using vorta_test::Replaced;
using vorta_test::TestStep;

namespace {

// Block bytes include 0xFF and NUL: only the first 0xFF of the file ends the header.
const std::vector<TestStep> kSteps = {
    {"First", "1", {std::string("ab\xFF\0cd", 6)}},
    {"Second", "7", {"0123456789", "xyz"}},
    {"Third", "-3", {std::string(300, 'q')}},
};

class ImageParserTest : public ::testing::Test {
protected:
    int Parse(const std::string& bytes) {
        return parser.Parse(dir.Write("image.rcx", bytes), parts);
    }

    vorta_test::TempDir dir;
    tv::CBasicRCXFileParser parser;
    tv::CUpdateImagePartList parts;
};

TEST_F(ImageParserTest, GoodImageGivesOnePartPerBlockInOrder) {
    ASSERT_EQ(Parse(ImageFor("Ver.9", kSteps)), 0);
    ASSERT_EQ(parts.size(), 4U);
    const std::vector<std::wstring> names = {L"First", L"Second", L"Second1", L"Third"};
    const std::vector<std::wstring> numbers = {L"1", L"7", L"7", L"-3"};
    const std::vector<std::string> data = {kSteps[0].blocks[0], kSteps[1].blocks[0],
                                           kSteps[1].blocks[1], kSteps[2].blocks[0]};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(parts[i]->GetName(), names[i]);
        EXPECT_EQ(parts[i]->GetNumber(), numbers[i]);
        EXPECT_EQ(parts[i]->GetAfterVersion(), L"Ver.9");
        const tv::ByteSequence& bytes = parts[i]->GetData();
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), data[i]);
        EXPECT_EQ(parts[i]->GetDigest(), vorta_test::Widen(vorta_test::IndependentMd5(data[i])));
    }
}

TEST_F(ImageParserTest, NewPartsAreAppendedAfterTheCallersOwn) {
    parts.push_back(
        std::make_unique<tv::CUpdateImagePart>(L"0", L"Old", L"v", tv::ByteSequence{}, L""));
    ASSERT_EQ(Parse(ImageFor("V", {{"New", "1", {"abc"}}})), 0);
    ASSERT_EQ(parts.size(), 2U);
    EXPECT_EQ(parts[0]->GetName(), L"Old");
    EXPECT_EQ(parts[1]->GetName(), L"New");
}

TEST_F(ImageParserTest, HeaderMayUseBareLineFeedsAndLooseSpelling) {
    std::string image = ImageFor("V", kSteps);
    const std::size_t headerEnd = image.find('\xFF');
    std::string header = image.substr(0, headerEnd);
    for (std::size_t at; (at = header.find("\r\n")) != std::string::npos;) {
        header.erase(at, 1);
    }
    header = Replaced(header, "[E]", "[e]");
    header = Replaced(header, "7.2.0=\"7\"", "7.2.0 = 7 ");
    ASSERT_EQ(Parse(header + image.substr(headerEnd)), 0);
    ASSERT_EQ(parts.size(), 4U);
    EXPECT_EQ(parts[1]->GetNumber(), L"7");
}

TEST_F(ImageParserTest, RejectsWrongMagicLines) {
    const std::string good = ImageFor("V", kSteps);
    const std::vector<std::string> bad = {
        Replaced(good, "RCX\r\n", "RCX \r\n"),
        Replaced(good, "RCX\r\n", "RCY\r\n"),
        Replaced(good, "RCX\r\n", "rcx\r\n"),
        Replaced(good, "TalboNet Form", "TalboNet Forn"),
        Replaced(good, "TalboNet Form", "TalboNet Form "),
        Replaced(good, "RCX\r\nOKRIM TALBO TalboNet Form\r\n", "OKRIM TALBO TalboNet Form\r\n"),
        Replaced(good, "RCX\r\n", "\r\nRCX\r\n"),
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Parse(bad[i]), -1);
        EXPECT_TRUE(parts.empty());
    }
}

TEST_F(ImageParserTest, RejectsBadStepLists) {
    const std::string good = ImageFor("V", kSteps);
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"no version", Replaced(good, "7=\"V\"\r\n", "")},
        {"empty version", Replaced(good, "7=\"V\"", "7=\"\"")},
        {"no step", ImageFor("V", {})},
        {"first step missing", Replaced(good, "7.1=\"First\"", "7.9=\"First\"")},
        {"step number 0", Replaced(good, "7.2.0=\"7\"", "7.2.0=\"0\"")},
        {"step number not a number", Replaced(good, "7.2.0=\"7\"", "7.2.0=\"seven\"")},
        {"step number missing", Replaced(good, "7.2.0=\"7\"\r\n", "")},
        {"step without sizes", Replaced(good, "7.3.1=\"300\"\r\n", "")},
        {"negative size", Replaced(good, "7.3.1=\"300\"", "7.3.1=\"-300\"")},
        {"size wrapping to negative", Replaced(good, "7.3.1=\"300\"", "7.3.1=\"4294966996\"")},
    };
    for (const auto& [what, image] : bad) {
        SCOPED_TRACE(what);
        EXPECT_EQ(Parse(image), -1);
        EXPECT_TRUE(parts.empty());
    }
}

TEST_F(ImageParserTest, StepListEndsAtTheFirstGap) {
    // Step 4 is never reached: the file holds blocks for steps 1 and 2 only, and the total
    // counts only theirs.
    std::string image = ImageFor("V", {{"One", "1", {"aa"}}, {"Two", "2", {"bbb"}}});
    image = Replaced(image, "[Z_1]", "7.4=\"Four\"\r\n7.4.0=\"4\"\r\n7.4.1=\"9\"\r\n[Z_1]");
    ASSERT_EQ(Parse(image), 0);
    ASSERT_EQ(parts.size(), 2U);
    EXPECT_EQ(parts[1]->GetName(), L"Two");
}

TEST_F(ImageParserTest, BlockListOfAStepEndsAtTheFirstMissingSize) {
    // 7.1.3 after a gap is not a block of step 1.
    std::string image = ImageFor("V", {{"One", "1", {"aa", "bbb"}}});
    image = Replaced(image, "7.1.2=\"3\"", "7.1.2=\"3\"\r\n7.1.4=\"5\"");
    ASSERT_EQ(Parse(image), 0);
    ASSERT_EQ(parts.size(), 2U);
    EXPECT_EQ(parts[1]->GetName(), L"One1");
}

TEST_F(ImageParserTest, RejectsBrokenFraming) {
    const std::string good = ImageFor("V", kSteps);
    const std::size_t lastMarker = good.size() - vorta_test::kMarker.size();
    std::string noSeparator = good;
    for (char& c : noSeparator) {
        if (c == '\xFF') {
            c = '\n';
        }
    }
    std::string markerDamaged = good;
    markerDamaged[good.find(vorta_test::kMarker) + 24] = 'A';
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"no separator", noSeparator},
        {"marker missing", Replaced(good, "xyz" + vorta_test::kMarker, "xyz")},
        {"marker one byte late", Replaced(good, "7.2.1=\"10\"", "7.2.1=\"11\"")},
        {"marker one byte early", Replaced(good, "7.2.1=\"10\"", "7.2.1=\"9\"")},
        {"marker damaged", markerDamaged},
        {"cut inside the last block", good.substr(0, lastMarker - 100)},
        {"cut inside the last marker", good.substr(0, good.size() - 1)},
        {"size far beyond the file", Replaced(good, "7.3.1=\"300\"", "7.3.1=\"2147483647\"")},
    };
    for (const auto& [what, image] : bad) {
        SCOPED_TRACE(what);
        EXPECT_EQ(Parse(image), -1);
        EXPECT_TRUE(parts.empty());
    }
}

TEST_F(ImageParserTest, RejectsATotalThatDoesNotMatch) {
    const std::string good = ImageFor("V", kSteps);  // 6 + 10 + 3 + 300 = 319
    EXPECT_EQ(Parse(Replaced(good, "5=\"319\"", "5=\"320\"")), -1);
    EXPECT_EQ(Parse(Replaced(good, "5=\"319\"", "5=\"318\"")), -1);
    EXPECT_EQ(Parse(Replaced(good, "5=\"319\"\r\n", "")), -1);
    EXPECT_TRUE(parts.empty());
    // The total is compared in 32-bit arithmetic.
    EXPECT_EQ(Parse(Replaced(good, "5=\"319\"", "5=\"4294967615\"")), 0);
}

TEST_F(ImageParserTest, RejectsFilesThatCannotBeRead) {
    EXPECT_EQ(parser.Parse(L"", parts), -1);
    EXPECT_EQ(parser.Parse(vorta_test::Widen((dir.path / "missing.rcx").string()), parts), -1);
    EXPECT_EQ(parser.Parse(vorta_test::Widen(dir.path.string()), parts), -1);
    EXPECT_EQ(Parse(""), -1);
    EXPECT_TRUE(parts.empty());
}

TEST_F(ImageParserTest, ParserIsReusableAfterFailures) {
    const std::string good = ImageFor("V", kSteps);
    ASSERT_EQ(Parse(good), 0);
    ASSERT_EQ(parts.size(), 4U);

    // A failing parse of an image with fewer steps leaves the caller's parts alone and keeps
    // nothing of the first parse.
    EXPECT_EQ(Parse(Replaced(ImageFor("W", {{"Only", "5", {"zz"}}}), "5=\"2\"", "5=\"3\"")), -1);
    ASSERT_EQ(parts.size(), 4U);
    EXPECT_EQ(parts[0]->GetName(), L"First");

    parts.clear();
    ASSERT_EQ(Parse(ImageFor("W", {{"Only", "5", {"zz"}}})), 0);
    ASSERT_EQ(parts.size(), 1U);
    EXPECT_EQ(parts[0]->GetName(), L"Only");
    EXPECT_EQ(parts[0]->GetAfterVersion(), L"W");
}

TEST_F(ImageParserTest, LongTextsAreCutToTheirCapacity) {
    const std::string longName(300, 'n');
    const std::string longVersion(300, 'v');
    ASSERT_EQ(Parse(ImageFor(longVersion, {{longName, "1", {"a"}}})), 0);
    ASSERT_EQ(parts.size(), 1U);
    EXPECT_EQ(parts[0]->GetName(), std::wstring(254, L'n'));
    EXPECT_EQ(parts[0]->GetAfterVersion(), std::wstring(255, L'v'));
}

TEST_F(ImageParserTest, HugeHeaderWithoutSeparatorFailsQuickly) {
    std::string image = "RCX\r\nOKRIM TALBO TalboNet Form\r\n[E]\r\n7=\"V\"\r\n";
    for (int n = 1; image.size() < 8 * 1024 * 1024; ++n) {
        const std::string key = "7." + std::to_string(n);
        image += key + "=\"S\"\r\n" + key + ".0=\"1\"\r\n" + key + ".1=\"1\"\r\n";
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Parse(image), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(ImageParserTest, RunningOutOfMemoryIsAFailure) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#else
    // A sparse file whose framing is right around a 512 MiB block, loaded in a child process
    // whose address space cannot hold that block.
    constexpr std::size_t kBig = 512 * 1024 * 1024;
    std::string image = ImageFor("V", {{"Small", "1", {"abc"}}, {"Big", "2", {"x"}}});
    image = Replaced(image, "7.2.1=\"1\"", "7.2.1=\"" + std::to_string(kBig) + "\"");
    image = Replaced(image, "5=\"4\"", "5=\"" + std::to_string(kBig + 3) + "\"");
    const std::size_t bigAt = image.size() - vorta_test::kMarker.size() - 1;
    image.resize(bigAt);
    const std::wstring path = dir.Write("big.rcx", image);
    {
        std::fstream file(dir.path / "big.rcx", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(bigAt + kBig));
        file << vorta_test::kMarker;
    }
    const std::wstring small = dir.Write("small.rcx", ImageFor("V", kSteps));

    const pid_t child = ::fork();
    if (child == 0) {
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        std::ifstream status("/proc/self/status");
        std::size_t vmKiB = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmSize:", 0) == 0) {
                vmKiB = std::stoul(line.substr(7));
            }
        }
        limit.rlim_cur = (vmKiB + 256 * 1024) * 1024;
        ::setrlimit(RLIMIT_AS, &limit);
        tv::CBasicRCXFileParser childParser;
        tv::CUpdateImagePartList childParts;
        const bool failed = childParser.Parse(path, childParts) == -1 && childParts.empty();
        const bool reusable = childParser.Parse(small, childParts) == 0 && childParts.size() == 4;
        ::_exit(failed && reusable ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child crashed";
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

}  // namespace
