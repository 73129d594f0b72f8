#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace talbo::tesk::vorta {

// A regular file opened read-only for positioned reads, so that several threads can read
// different places of it at once without sharing a file position.
class CImageFile {
public:
    // Opens the file at path (wide text, encoded as UTF-8 for the file system); nullopt when it
    // cannot be opened or is not a regular file.
    static std::optional<CImageFile> Open(const std::wstring& path);

    CImageFile(CImageFile&& other) noexcept;
    CImageFile& operator=(CImageFile&& other) noexcept;
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;
    ~CImageFile();

    // Reads up to count bytes at offset; the number read, fewer only at the end of the file, or
    // -1 on a read error.
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) const;
    // True when exactly count bytes could be read at offset.
    bool ReadExactAt(std::int64_t offset, void* buffer, std::size_t count) const;
    // The file's current size in bytes, or -1 when it cannot be queried.
    std::int64_t Size() const;
    // Offset of the first byte with the given value, or nullopt when the file holds none.
    std::optional<std::int64_t> Find(std::uint8_t value) const;

private:
    explicit CImageFile(int descriptor) noexcept : descriptor(descriptor) {}

    int descriptor = -1;
};

}  // namespace talbo::tesk::vorta
