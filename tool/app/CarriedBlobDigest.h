#pragma once
// SHA-256 digests of what the tool carries, as 64 lowercase hexadecimal digits, to compare with
// the ones the build recorded (CarriedBlob::sha256). OpenSSL's EVP interface computes them.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace talbo::tesk::vorta {

// The digest of carried bytes. Bytes that are mapped from a file (the blobs linked into the
// executable) are read from that file in chunks into a small buffer, so that checking the
// 100 MB image never pages it into the process and its peak memory stays as it was; other
// bytes (the tables of tests) are digested where they lie. nullopt, with error set to an errno
// value (EIO when there is none), when the bytes could not be read or digested.
std::optional<std::string> CarriedBytesSha256(std::span<const std::uint8_t> bytes, int& error);

// Writes bytes to outFd from its current position on and returns the SHA-256 of exactly what
// it wrote, taken in the same single pass: each chunk is read into a small buffer (from the file
// the bytes are mapped from, as above, else copied from memory), digested there and written from
// there. Bytes that change under the copy therefore show in the digest, and the file is never
// read back; like the check above it leaves the peak memory alone. nullopt, with error set to an
// errno value (ENOSPC when the file took nothing, EIO when there is none), when the bytes could
// not be read, written or digested; outFd then holds part of them, and the caller deletes it.
std::optional<std::string> CopyCarriedBytesSha256(std::span<const std::uint8_t> bytes, int outFd,
                                                  int& error);

// The digest of a file's whole content, read in chunks. nullopt, with error set to an errno
// value (EIO when there is none), when the file cannot be read or digested.
std::optional<std::string> FileSha256(const std::filesystem::path& path, int& error);

}  // namespace talbo::tesk::vorta
