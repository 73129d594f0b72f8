#include "tool/app/MappedFileCopy.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>

namespace talbo::tesk::vorta {

namespace {

// Where mapped bytes lie in their file.
struct SMappedRegion {
    std::string path;
    off_t offset = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

// The file mapping of /proc/self/maps that holds the whole of [begin, end), if any.
std::optional<SMappedRegion> FindMapping(std::uintptr_t begin, std::uintptr_t end) {
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (maps == nullptr) {
        return std::nullopt;
    }
    std::optional<SMappedRegion> found;
    char line[4096 + 256];
    while (!found && std::fgets(line, sizeof line, maps) != nullptr) {
        std::uintmax_t start = 0;
        std::uintmax_t stop = 0;
        std::uintmax_t offset = 0;
        unsigned major = 0;
        unsigned minor = 0;
        std::uintmax_t inode = 0;
        int pathAt = 0;
        // NOLINTNEXTLINE(cert-err34-c): the kernel writes these numbers; they always fit
        if (std::sscanf(line, "%jx-%jx %*4s %jx %x:%x %ju %n", &start, &stop, &offset, &major,
                        &minor, &inode, &pathAt) < 6 ||
            inode == 0 || begin < start || end > stop) {
            continue;
        }
        std::string path(line + pathAt);
        while (!path.empty() && (path.back() == '\n' || path.back() == ' ')) {
            path.pop_back();
        }
        if (path.empty() || path.front() != '/') {
            continue;
        }
        found = SMappedRegion{path, static_cast<off_t>(offset + (begin - start)),
                              ::makedev(major, minor), static_cast<ino_t>(inode)};
    }
    static_cast<void>(std::fclose(maps));  // read only: closing it cannot lose anything
    return found;
}

}  // namespace

int OpenMappedFile(std::span<const std::uint8_t> bytes, off_t& offset) {
    if (bytes.empty()) {
        return -1;
    }
    const auto begin = reinterpret_cast<std::uintptr_t>(bytes.data());
    const std::optional<SMappedRegion> region = FindMapping(begin, begin + bytes.size());
    if (!region) {
        return -1;
    }
    const int fd = ::open(region->path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    // The path may meanwhile name another file (an upgrade replaced the executable).
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_ino != region->inode || info.st_dev != region->device) {
        ::close(fd);
        return -1;
    }
    offset = region->offset;
    return fd;
}

std::size_t CopyMappedBytes(std::span<const std::uint8_t> bytes, int outFd) {
    off_t offset = 0;
    const int inFd = OpenMappedFile(bytes, offset);
    if (inFd < 0) {
        return 0;
    }
    std::size_t copied = 0;
    bool useSendfile = false;
    while (copied < bytes.size()) {
        off_t from = offset + static_cast<off_t>(copied);
        const std::size_t rest = bytes.size() - copied;
        const ssize_t n = useSendfile ? ::sendfile(outFd, inFd, &from, rest)
                                      : ::copy_file_range(inFd, &from, outFd, nullptr, rest, 0);
        if (n > 0) {
            copied += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (!useSendfile && n < 0 &&
                   (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            useSendfile = true;  // files on different file systems, or an older kernel
        } else {
            break;  // the caller writes the rest from memory
        }
    }
    ::close(inFd);
    return copied;
}

}  // namespace talbo::tesk::vorta
