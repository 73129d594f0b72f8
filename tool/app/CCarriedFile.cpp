#include "tool/app/CCarriedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "tool/app/CarriedBlobDigest.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/MappedFileCopy.h"

namespace talbo::tesk::vorta {

namespace {

// Writes bytes to fd; false with error set (an errno value) when fd did not take them all.
bool CopyInto(std::span<const std::uint8_t> bytes, int fd, int& error) {
    // The kernel copies what it can straight from the executable's file; only a rest (blobs
    // that are not mapped from a file, as in tests) goes through the process's memory.
    std::span<const std::uint8_t> rest = bytes.subspan(CopyMappedBytes(bytes, fd));
    while (!rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            return false;
        }
        rest = rest.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

CCarriedFile::CCarriedFile(std::wstring_view type, int number) {
    if (const CarriedBlob* blob = FindCarriedBlob(type, number)) {
        bytes = blob->bytes;
        recordedSha256 = blob->sha256;
        found = true;
    }
}

CCarriedFile::~CCarriedFile() {
    DeleteWrittenFile();
}

bool CCarriedFile::WriteTo(const std::filesystem::path& path) {
    return Write(path, false);
}

bool CCarriedFile::WriteDigestedTo(const std::filesystem::path& path) {
    return Write(path, true);
}

bool CCarriedFile::Write(const std::filesystem::path& path, bool digest) {
    if (!found || !writtenPath.empty() || bytes.empty() || path.empty()) {
        return false;
    }
    writeError = 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        writeError = errno;
        return false;
    }
    bool ok = true;
    if (digest) {
        std::optional<std::string> sha256 = CopyCarriedBytesSha256(bytes, fd, writeError);
        ok = sha256.has_value();
        writtenSha256 = std::move(sha256).value_or(std::string());
    } else {
        ok = CopyInto(bytes, fd, writeError);
    }
    if (::close(fd) != 0 && ok) {
        writeError = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(path.c_str());
        writtenSha256.clear();
        return false;
    }
    writtenPath = path;
    return true;
}

void CCarriedFile::DeleteWrittenFile() {
    if (!writtenPath.empty()) {
        ::unlink(writtenPath.c_str());
        writtenPath.clear();
        writtenSha256.clear();
    }
}

}  // namespace talbo::tesk::vorta
