#include "tool/app/MappedFileCopy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// Bytes mapped from a file are copied by the kernel from the right place of that file, also
// from a mapping that starts inside the file; bytes that are not (wholly) mapped from a file
// are left to the caller.
TEST(MappedFileCopy, CopiesFromWhereTheBytesLieInTheirFile) {
    const fs::path dir = fs::temp_directory_path() / ("vorta-copy-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const long page = ::sysconf(_SC_PAGESIZE);
    std::string content(static_cast<std::size_t>(page) * 4, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 131) % 251);
    }
    std::ofstream(dir / "source", std::ios::binary) << content;
    const int source = ::open((dir / "source").c_str(), O_RDONLY);
    ASSERT_GE(source, 0);
    // Pages 1 to 3 of the file, so that the mapping's own file offset counts too.
    void* mapped =
        ::mmap(nullptr, static_cast<std::size_t>(page) * 3, PROT_READ, MAP_PRIVATE, source, page);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto* bytes = static_cast<const std::uint8_t*>(mapped);
    const std::vector<std::uint8_t> heap(100, 7);

    const struct {
        const char* name;
        std::span<const std::uint8_t> bytes;
        std::size_t copied;
        std::string written;
    } cases[] = {
        {"whole mapping",
         {bytes, static_cast<std::size_t>(page) * 3},
         static_cast<std::size_t>(page) * 3,
         content.substr(static_cast<std::size_t>(page))},
        {"inside a page",
         {bytes + page + 17, 1000},
         1000,
         content.substr(static_cast<std::size_t>(page) * 2 + 17, 1000)},
        {"past the mapping's end", {bytes + page * 2, static_cast<std::size_t>(page) + 1}, 0, ""},
        {"not mapped from a file", heap, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path target = dir / "target";
        fs::remove(target);
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(out, 0);
        EXPECT_EQ(tv::CopyMappedBytes(c.bytes, out), c.copied);
        ::close(out);
        EXPECT_TRUE(ReadAll(target) == c.written);
    }
    ::munmap(mapped, static_cast<std::size_t>(page) * 3);
    ::close(source);
    fs::remove_all(dir);
}
