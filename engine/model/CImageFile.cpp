#include "engine/model/CImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/Utf8.h"

namespace talbo::tesk::vorta {

std::optional<CImageFile> CImageFile::Open(const std::wstring& path) {
    const std::optional<std::string> narrow = common::EncodeUtf8(path);
    if (!narrow || narrow->empty() || narrow->find('\0') != std::string::npos) {
        return std::nullopt;
    }
    // Non-blocking so that a FIFO put in the image's place cannot hang the open; it is then
    // refused as not regular. For regular files the flag changes nothing.
    int fd = -1;
    do {
        fd = ::open(narrow->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return std::nullopt;
    }
    CImageFile file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return file;
}

CImageFile::CImageFile(CImageFile&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)) {}

CImageFile& CImageFile::operator=(CImageFile&& other) noexcept {
    if (this != &other) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        descriptor = std::exchange(other.descriptor, -1);
    }
    return *this;
}

CImageFile::~CImageFile() {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

std::int64_t CImageFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) const {
    if (offset < 0) {
        return -1;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        // The kernel moves at most about 2 GiB per call; larger requests just loop.
        const ssize_t n = ::pread(descriptor, out + done, count - done,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

bool CImageFile::ReadExactAt(std::int64_t offset, void* buffer, std::size_t count) const {
    return ReadAt(offset, buffer, count) == static_cast<std::int64_t>(count);
}

std::int64_t CImageFile::Size() const {
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(info.st_size);
}

std::optional<std::int64_t> CImageFile::Find(std::uint8_t value) const {
    std::array<unsigned char, std::size_t{64} * 1024> chunk{};
    std::int64_t offset = 0;
    for (;;) {
        const std::int64_t n = ReadAt(offset, chunk.data(), chunk.size());
        if (n <= 0) {
            return std::nullopt;
        }
        const void* hit = std::memchr(chunk.data(), value, static_cast<std::size_t>(n));
        if (hit != nullptr) {
            return offset + (static_cast<const unsigned char*>(hit) - chunk.data());
        }
        offset += n;
    }
}

}  // namespace talbo::tesk::vorta
