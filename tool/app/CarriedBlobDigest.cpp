#include "tool/app/CarriedBlobDigest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>

#include "tool/app/MappedFileCopy.h"

namespace talbo::tesk::vorta {

namespace {

// Large enough that the reads cost little next to the digest, small enough to stay in the cache
// while it is digested and to leave the peak memory alone.
constexpr std::size_t kChunk = std::size_t{1} << 20;

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

class Sha256 {
public:
    Sha256() : context(EVP_MD_CTX_new()) {
        ok = context != nullptr && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    }
    void Update(const void* data, std::size_t size) {
        ok = ok && EVP_DigestUpdate(context.get(), data, size) == 1;
    }
    std::optional<std::string> Hex() {
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int size = 0;
        if (!ok || EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) {
            return std::nullopt;
        }
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex;
        hex.reserve(static_cast<std::size_t>(size) * 2U);
        for (unsigned int i = 0; i < size; ++i) {
            hex.push_back(kDigits[digest[i] >> 4U]);
            hex.push_back(kDigits[digest[i] & 0x0FU]);
        }
        return hex;
    }

private:
    std::unique_ptr<EVP_MD_CTX, ContextFree> context;
    bool ok = false;
};

// Writes the whole of size bytes to outFd; false (error set) when it could not.
bool WriteAll(int outFd, const unsigned char* data, std::size_t size, int& error) {
    while (size > 0) {
        const ssize_t n = ::write(outFd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Digests a chunk and, when outFd is given, writes that same chunk on, so that the digest covers
// exactly what reached the file.
bool Pass(const unsigned char* chunk, std::size_t size, Sha256& sha, int outFd, int& error) {
    sha.Update(chunk, size);
    return outFd < 0 || WriteAll(outFd, chunk, size, error);
}

// Digests (and with outFd >= 0 also writes on) length bytes of fd from offset on, or everything
// from offset to the end of the file when length is unknown; false (error set) when the file
// ends early or cannot be read, or outFd cannot take the bytes.
bool DigestFile(int fd, off_t offset, std::optional<std::size_t> length, Sha256& sha, int outFd,
                int& error) {
    // Readahead in large steps: the executable may not be in the page cache yet.
    static_cast<void>(::posix_fadvise(fd, offset, 0, POSIX_FADV_SEQUENTIAL));
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
    std::size_t done = 0;
    while (!length || done < *length) {
        const std::size_t want = length ? std::min(kChunk, *length - done) : kChunk;
        const ssize_t n = ::pread(fd, buffer.get(), want, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = errno;
            return false;
        }
        if (n == 0) {
            if (length) {
                error = EIO;  // the file is shorter than the mapping said
                return false;
            }
            break;
        }
        if (!Pass(buffer.get(), static_cast<std::size_t>(n), sha, outFd, error)) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> Finish(Sha256& sha, int& error) {
    std::optional<std::string> hex = sha.Hex();
    if (!hex) {
        error = EIO;
    }
    return hex;
}

// CarriedBytesSha256, and with outFd >= 0 CopyCarriedBytesSha256.
std::optional<std::string> DigestCarried(std::span<const std::uint8_t> bytes, int outFd,
                                         int& error) {
    Sha256 sha;
    off_t offset = 0;
    const int fd = OpenMappedFile(bytes, offset);
    if (fd >= 0) {
        const bool passed = DigestFile(fd, offset, bytes.size(), sha, outFd, error);
        ::close(fd);
        return passed ? Finish(sha, error) : std::nullopt;
    }
    if (outFd < 0) {
        for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
            sha.Update(bytes.data() + at, std::min(kChunk, bytes.size() - at));
        }
        return Finish(sha, error);
    }
    // Each chunk is taken into a buffer of our own first: bytes that change in memory between
    // being digested and being written would otherwise make the digest lie about the file.
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const std::size_t size = std::min(kChunk, bytes.size() - at);
        std::copy_n(bytes.data() + at, size, buffer.get());
        if (!Pass(buffer.get(), size, sha, outFd, error)) {
            return std::nullopt;
        }
    }
    return Finish(sha, error);
}

}  // namespace

std::optional<std::string> CarriedBytesSha256(std::span<const std::uint8_t> bytes, int& error) {
    return DigestCarried(bytes, -1, error);
}

std::optional<std::string> CopyCarriedBytesSha256(std::span<const std::uint8_t> bytes, int outFd,
                                                  int& error) {
    if (outFd < 0) {
        error = EBADF;
        return std::nullopt;
    }
    return DigestCarried(bytes, outFd, error);
}

std::optional<std::string> FileSha256(const std::filesystem::path& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    Sha256 sha;
    const bool read = DigestFile(fd, 0, std::nullopt, sha, -1, error);
    ::close(fd);
    return read ? Finish(sha, error) : std::nullopt;
}

}  // namespace talbo::tesk::vorta
