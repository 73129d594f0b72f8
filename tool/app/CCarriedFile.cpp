#include "tool/app/CCarriedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "tool/app/CarriedBlobs.h"
#include "tool/app/MappedFileCopy.h"

namespace talbo::tesk::vorta {

CCarriedFile::CCarriedFile(std::wstring_view type, int number) {
    if (const CarriedBlob* blob = FindCarriedBlob(type, number)) {
        bytes = blob->bytes;
        found = true;
    }
}

CCarriedFile::~CCarriedFile() {
    DeleteWrittenFile();
}

bool CCarriedFile::WriteTo(const std::filesystem::path& path) {
    if (!found || !writtenPath.empty() || bytes.empty() || path.empty()) {
        return false;
    }
    writeError = 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        writeError = errno;
        return false;
    }
    // The kernel copies what it can straight from the executable's file; only a rest (blobs
    // that are not mapped from a file, as in tests) goes through the process's memory.
    std::span<const std::uint8_t> rest = bytes.subspan(CopyMappedBytes(bytes, fd));
    bool ok = true;
    while (ok && !rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (!ok) {
            writeError = n < 0 ? errno : ENOSPC;
        } else {
            rest = rest.subspan(static_cast<std::size_t>(n));
        }
    }
    if (::close(fd) != 0 && ok) {
        writeError = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(path.c_str());
        return false;
    }
    writtenPath = path;
    return true;
}

void CCarriedFile::DeleteWrittenFile() {
    if (!writtenPath.empty()) {
        ::unlink(writtenPath.c_str());
        writtenPath.clear();
    }
}

}  // namespace talbo::tesk::vorta
