#pragma once
// Reading of a device list file: single-byte text, one host name per line.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace talbo::tesk::vorta::common {

// What a device list file holds. Each byte is one character, a carriage return before a line
// feed is dropped and empty lines are skipped. One line that is longer than a host name may be
// or holds a character outside the host-name set rejects the whole file.
struct DeviceList {
    std::vector<std::wstring> names;  // in file order, duplicates kept; empty when rejected
    std::size_t badLine = 0;          // the first line that rejects the file (from 1); 0: none
    int readError = 0;                // errno when the file could not be opened or read

    // Whether the file may be registered: readable, no bad line, at least one name.
    bool Accepted() const { return readError == 0 && badLine == 0 && !names.empty(); }
};

DeviceList ReadDeviceList(const std::filesystem::path& path);

// The host names of an accepted file; empty for any other (as the engine's import needs it).
std::vector<std::wstring> ReadDeviceListFile(const std::wstring& path);

// A name of a list file and the line it stands on (from 1), so that notices can name the line.
struct NumberedName {
    std::wstring name;
    std::size_t line = 0;

    bool operator==(const NumberedName&) const = default;
};

// A list file as the tool reads it for its operators, who write lists by hand or export them
// from spreadsheets and editors: as ReadDeviceList, but a UTF-8 byte order mark at the very
// start is skipped, blanks (space, tab) around a name are trimmed, a line of blanks only is
// empty, and every name the tool cannot take (HostNameProblem, numeric spellings included)
// rejects the file. Reading stops at the first such line.
struct OperatorDeviceList {
    std::vector<NumberedName> names;  // in file order, duplicates kept; empty when rejected
    std::size_t badLine = 0;          // the first line that rejects the file (from 1); 0: none
    std::wstring badName;  // that line, trimmed (cut short when it is too long for a name)
    std::wstring problem;  // HostNameProblem of badName
    int readError = 0;     // errno when the file could not be opened or read

    bool Accepted() const { return readError == 0 && badLine == 0 && !names.empty(); }
};

OperatorDeviceList ReadOperatorDeviceList(const std::filesystem::path& path);

}  // namespace talbo::tesk::vorta::common
