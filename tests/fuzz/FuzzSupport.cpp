#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace vorta_fuzz {

namespace {

class CScratchFolder {
public:
    CScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
        pattern += "/vorta-fuzz-XXXXXX";
        Require(::mkdtemp(pattern.data()) != nullptr, "cannot create the scratch folder");
        path = pattern;
    }
    ~CScratchFolder() {
        std::error_code ignored;  // a folder left in the temporary area harms nobody
        std::filesystem::remove_all(path, ignored);
    }
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;

    std::filesystem::path path;
};

const std::filesystem::path& ScratchFolder() {
    static const CScratchFolder folder;
    return folder.path;
}

}  // namespace

std::filesystem::path WriteScratchFile(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = ScratchFolder() / "input";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    Require(!out.fail(), "cannot write the scratch file");
    return file;
}

std::filesystem::path FreshScratchPath(std::string_view name) {
    const std::filesystem::path file = ScratchFolder() / name;
    std::error_code ignored;  // absent already is what we want
    std::filesystem::remove(file, ignored);
    return file;
}

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace vorta_fuzz
