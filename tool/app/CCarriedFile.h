#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
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
    // Like WriteTo, but takes the SHA-256 of exactly the bytes written while it writes them, in
    // one pass through a small buffer (CopyCarriedBytesSha256), so that what the file holds is
    // known without reading it back: GetWrittenSha256. Slower than WriteTo, which leaves the
    // copy to the kernel; for a copy that must be checked. Also fails when no digest could be
    // taken (WriteError then says why).
    bool WriteDigestedTo(const std::filesystem::path& path);
    const std::filesystem::path& GetWrittenPath() const { return writtenPath; }
    // The SHA-256 of the written file's content (64 lowercase hexadecimal digits) after a
    // successful WriteDigestedTo; empty otherwise.
    const std::string& GetWrittenSha256() const { return writtenSha256; }
    // The SHA-256 the build recorded for the blob (CarriedBlob::sha256); empty when none was
    // recorded or the blob is missing.
    std::string_view RecordedSha256() const { return recordedSha256; }
    // Whether the executable carries the blob.
    bool Found() const { return found; }
    // Why the last WriteTo could not create or fill the file (an errno value); 0 otherwise.
    int WriteError() const { return writeError; }
    // Deletes the written file now (also done by the destructor).
    void DeleteWrittenFile();

private:
    bool Write(const std::filesystem::path& path, bool digest);

    std::span<const std::uint8_t> bytes;
    std::string_view recordedSha256;
    bool found = false;
    int writeError = 0;
    std::filesystem::path writtenPath;
    std::string writtenSha256;
};

}  // namespace talbo::tesk::vorta
