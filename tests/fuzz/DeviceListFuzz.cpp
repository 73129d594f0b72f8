// The device list file: one host name per line, a single bad line rejects the whole file, and
// the reader names that line; the tool's forgiving reading of the same file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "common/DeviceListFile.h"
#include "common/HostName.h"

namespace tv = talbo::tesk::vorta::common;
using vorta_fuzz::Require;

namespace {

struct Expected {
    std::vector<std::wstring> names;
    std::size_t badLine = 0;
};

// What the file's contract promises, worked out line by line from the whole text.
Expected ExpectedList(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> names;
    std::wstring line;
    std::size_t number = 1;
    auto finish = [&]() {
        if (line.empty()) {
            return true;
        }
        if (!tv::IsValidHostName(line)) {
            return false;
        }
        names.push_back(line);
        line.clear();
        return true;
    };
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') {
            line.push_back(static_cast<wchar_t>(data[i]));
            continue;
        }
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        if (!finish()) {
            return {{}, number};
        }
        ++number;
    }
    return finish() ? Expected{names, 0} : Expected{{}, number};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = vorta_fuzz::WriteScratchFile(data, size);
    const std::vector<std::wstring> names = tv::ReadDeviceListFile(path.wstring());
    for (const std::wstring& name : names) {
        Require(tv::IsValidHostName(name), "every name read is a valid host name");
    }
    const Expected expected = ExpectedList(data, size);
    Require(names == expected.names, "the names are the file's non-empty lines");
    Require(tv::ReadDeviceList(path).badLine == expected.badLine,
            "a refused file is refused for its first bad line");

    // The tool's reading for operators: only names the tool can take, each on a later line than
    // the one before, and a refused file says why. Where the engine's reading takes a file of
    // such names, the tool's reading takes the same names.
    const tv::OperatorDeviceList forgiving = tv::ReadOperatorDeviceList(path);
    std::size_t previousLine = 0;
    for (const tv::NumberedName& entry : forgiving.names) {
        Require(!tv::HostNameProblem(entry.name) && entry.line > previousLine,
                "every name the tool reads can be taken, in line order");
        previousLine = entry.line;
    }
    Require((forgiving.badLine == 0) == forgiving.problem.empty(), "a refused file says why");
    const bool takeable = std::none_of(names.begin(), names.end(), [](const std::wstring& name) {
        return tv::HostNameProblem(name).has_value();
    });
    if (takeable && expected.badLine == 0) {
        std::vector<std::wstring> read;
        for (const tv::NumberedName& entry : forgiving.names) {
            read.push_back(entry.name);
        }
        Require(read == names, "the tool reads what the engine reads");
    }
    return 0;
}
