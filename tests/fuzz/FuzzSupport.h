#pragma once
// What the fuzz targets share: a private file to hand inputs to readers that take a path, and a
// way to report a broken invariant as a crash, which is what both libFuzzer and the corpus
// replay notice.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace vorta_fuzz {

// Writes the bytes to a file in a private folder of this process (created on first use under
// $TMPDIR or /tmp, mode 0700, removed at exit) and returns its path. Every call overwrites the
// same file. Aborts when the file cannot be written: no input could be tested then.
std::filesystem::path WriteScratchFile(const std::uint8_t* data, std::size_t size);

// A second path in the same folder that names no file (removed if it exists).
std::filesystem::path FreshScratchPath(std::string_view name);

// Aborts with the message when the condition is false.
void Require(bool condition, const char* what);

}  // namespace vorta_fuzz
