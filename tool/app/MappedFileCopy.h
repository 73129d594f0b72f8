#pragma once
// Copying bytes that the process has mapped from a file (the blobs carried in the executable)
// to another file inside the kernel, so that the bytes are never paged into the process: the
// update image is larger than anything else the tool holds, and the engine keeps its own copy.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace talbo::tesk::vorta {

// Copies bytes to the current position of outFd with copy_file_range, or sendfile where the
// two files cannot share a copy, reading them from the file they are mapped from. Returns how
// many bytes were copied from the start: all of them, or fewer when the bytes are not (wholly)
// mapped from a file that can still be opened, or the kernel stopped copying; the caller then
// writes the rest itself. outFd's position ends after the copied bytes.
std::size_t CopyMappedBytes(std::span<const std::uint8_t> bytes, int outFd);

// Opens, read-only, the file that the whole of bytes is mapped from, if it still is the file
// that was mapped (an upgrade may have put another file under its path), and sets offset to
// where the bytes start in it. Returns the descriptor, which the caller closes, or -1 when the
// bytes are not (wholly) mapped from a file or it cannot be opened.
int OpenMappedFile(std::span<const std::uint8_t> bytes, off_t& offset);

}  // namespace talbo::tesk::vorta
