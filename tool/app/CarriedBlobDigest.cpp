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

// Digests length bytes of fd from offset on, or everything from offset to the end of the file
// when length is unknown; false (error set) when the file ends early or cannot be read.
bool DigestFile(int fd, off_t offset, std::optional<std::size_t> length, Sha256& sha, int& error) {
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
        sha.Update(buffer.get(), static_cast<std::size_t>(n));
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

}  // namespace

std::optional<std::string> CarriedBytesSha256(std::span<const std::uint8_t> bytes, int& error) {
    Sha256 sha;
    off_t offset = 0;
    const int fd = OpenMappedFile(bytes, offset);
    if (fd >= 0) {
        const bool read = DigestFile(fd, offset, bytes.size(), sha, error);
        ::close(fd);
        return read ? Finish(sha, error) : std::nullopt;
    }
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        sha.Update(bytes.data() + at, std::min(kChunk, bytes.size() - at));
    }
    return Finish(sha, error);
}

std::optional<std::string> FileSha256(const std::filesystem::path& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    Sha256 sha;
    const bool read = DigestFile(fd, 0, std::nullopt, sha, error);
    ::close(fd);
    return read ? Finish(sha, error) : std::nullopt;
}

}  // namespace talbo::tesk::vorta
