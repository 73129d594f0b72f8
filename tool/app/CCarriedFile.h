#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace talbo::tesk::vorta {

// One carried blob on its way to a file. Destroying it deletes the file it wrote.
class CCarriedFile {
public:
    CCarriedFile() = default;
    // Looks the blob up; WriteTo fails when this did not find it.
    CCarriedFile(std::wstring_view type, int number);
    ~CCarriedFile();

    CCarriedFile(const CCarriedFile&) = delete;
    CCarriedFile& operator=(const CCarriedFile&) = delete;

    // Writes the whole blob to a new file (never over an existing file or through a symbolic
    // link, mode 0600). Fails when the blob is missing or empty, or this object already wrote.
    bool WriteTo(const std::filesystem::path& path);
    const std::filesystem::path& GetWrittenPath() const { return writtenPath; }
    // Whether the executable carries the blob.
    bool Found() const { return found; }
    // Why the last WriteTo could not create or fill the file (an errno value); 0 otherwise.
    int WriteError() const { return writeError; }
    // Deletes the written file now (also done by the destructor).
    void DeleteWrittenFile();

private:
    std::span<const std::uint8_t> bytes;
    bool found = false;
    int writeError = 0;
    std::filesystem::path writtenPath;
};

}  // namespace talbo::tesk::vorta
