#pragma once
// Reading of a device list file: single-byte text, one host name per line.

#include <string>
#include <vector>

namespace talbo::tesk::vorta {

// The host names of the file in file order, duplicates kept. Each byte is one character, a
// carriage return before a line feed is dropped and empty lines are skipped. The result is
// empty when the file cannot be read or when any line is longer than a host name may be or
// holds a character outside the host-name set: one bad line rejects the whole file.
std::vector<std::wstring> ReadDeviceListFile(const std::wstring& path);

}  // namespace talbo::tesk::vorta
