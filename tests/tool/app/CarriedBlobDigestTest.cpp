#include "tool/app/CarriedBlobDigest.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;

namespace {

// SHA-256 of "abc" (FIPS 180-2, appendix B.1) and of one million "a" (B.3).
constexpr const char* kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kMillionA =
    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

// The process's peak resident memory in KiB (VmHWM), after resetting it to the current size.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

class CarriedBlobDigest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vorta-digest-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A file whose content is the text repeated to size bytes, mapped whole.
    std::span<const std::uint8_t> MapFile(const std::string& name, const std::string& text,
                                          std::size_t size) {
        std::string content;
        while (content.size() < size) {
            content += text;
        }
        content.resize(size);
        std::ofstream(dir / name, std::ios::binary) << content;
        const int fd = ::open((dir / name).c_str(), O_RDONLY);
        EXPECT_GE(fd, 0);
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        EXPECT_NE(mapped, MAP_FAILED);
        mappings.push_back({mapped, size});
        return {static_cast<const std::uint8_t*>(mapped), size};
    }
    ~CarriedBlobDigest() override {
        for (const auto& [address, size] : mappings) {
            ::munmap(address, size);
        }
    }

    fs::path dir;
    std::vector<std::pair<void*, std::size_t>> mappings;
};

}  // namespace

// Bytes in memory, bytes mapped from a file (read from the file instead, from where they lie in
// it) and a written file all give the same, standard digest.
TEST_F(CarriedBlobDigest, EveryKindOfBytesGivesTheStandardDigest) {
    int error = 0;
    const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};
    EXPECT_EQ(tv::CarriedBytesSha256(abc, error), kAbc);
    const std::vector<std::uint8_t> millionA(1000000, 'a');  // more than one chunk
    EXPECT_EQ(tv::CarriedBytesSha256(millionA, error), kMillionA);

    const std::span<const std::uint8_t> mapped = MapFile("mapped", "xyzabc", 3 * 4096);
    EXPECT_EQ(tv::CarriedBytesSha256(mapped.subspan(4096 + 5, 3), error), kAbc);

    std::ofstream(dir / "file", std::ios::binary) << std::string(1000000, 'a');
    EXPECT_EQ(tv::FileSha256(dir / "file", error), kMillionA);
    EXPECT_EQ(tv::FileSha256(dir / "missing", error), std::nullopt);
    EXPECT_EQ(error, ENOENT);
}

// Checking a large blob mapped from the executable must not page it into the process: the peak
// memory of a command-line run would grow by the whole image.
TEST_F(CarriedBlobDigest, MappedBlobIsDigestedWithoutGrowingThePeakMemory) {
    constexpr std::size_t kSize = std::size_t{64} << 20;
    const std::span<const std::uint8_t> mapped = MapFile("large", "0123456789abcdef", kSize);
    if (!ResetPeak()) {
        GTEST_SKIP() << "cannot reset the peak memory (/proc/self/clear_refs)";
    }
    const long before = PeakKiB();
    int error = 0;
    ASSERT_TRUE(tv::CarriedBytesSha256(mapped, error)) << error;
    EXPECT_LT(PeakKiB() - before, 8 * 1024) << "KiB more at the peak";
}
