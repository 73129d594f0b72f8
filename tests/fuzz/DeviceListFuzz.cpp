// The device list file: one host name per line, a single bad line rejects the whole file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "engine/model/DeviceListFile.h"
#include "engine/model/HostName.h"

namespace tv = talbo::tesk::vorta;
using vorta_fuzz::Require;

namespace {

// The names the file's contract promises, worked out line by line from the whole text.
std::vector<std::wstring> ExpectedNames(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> names;
    std::wstring line;
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
            return {};
        }
    }
    return finish() ? names : std::vector<std::wstring>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::wstring> names =
        tv::ReadDeviceListFile(vorta_fuzz::WriteScratchFile(data, size).wstring());
    for (const std::wstring& name : names) {
        Require(tv::IsValidHostName(name), "every name read is a valid host name");
    }
    Require(names == ExpectedNames(data, size), "the names are the file's non-empty lines");
    return 0;
}
