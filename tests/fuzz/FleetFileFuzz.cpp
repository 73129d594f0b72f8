// The simulator's fleet file, read in proxy mode and in direct mode.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "simulator/CFleetConfig.h"

namespace ds = talbo::tesk::vorta::devsim;
using vorta_fuzz::Require;

namespace {

bool IsHostName(const std::string& text) {
    return !text.empty() && text.size() <= 254 && std::all_of(text.begin(), text.end(), [](char c) {
        return c == '.' || c == '-' || std::isalnum(static_cast<unsigned char>(c)) != 0;
    });
}

// A numeric address as inet_pton reads it: nothing but digits, hex letters, '.' and ':'.
bool IsNumericAddressText(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return c == '.' || c == ':' || std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

void Check(const std::string& text, bool direct) {
    ds::FleetRequest request;
    request.direct = direct;
    std::string error;
    const auto fleet = ds::FleetFromJson(text, request, error);
    Require(fleet.has_value() == error.empty(), "a fleet is read or refused with a reason");
    if (!fleet) {
        return;
    }
    Require(!fleet->empty(), "a fleet has a device");
    std::set<std::string> hosts;
    for (const ds::DeviceSettings& device : *fleet) {
        Require(IsHostName(device.host), "every device has a host name");
        std::string lower = device.host;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        Require(hosts.insert(lower).second, "host names are unique");
        Require(device.restartMs >= 0 && device.restartMs <= 86400000, "restart time in range");
        Require(device.status != "AnotherApp" || !device.appName.empty(),
                "a busy device names its application");
        Require(!direct || device.listen.has_value(), "a direct device has an address");
        if (device.listen) {
            Require(IsNumericAddressText(device.listen->host), "a listen address is numeric");
            Require(device.listen->port >= 0 && device.listen->port <= 65535, "a port in range");
        }
        for (const ds::Fault& fault : device.faults) {
            Require(!fault.Describe().empty(), "a fault describes itself");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Check(text, false);
    Check(text, true);
    return 0;
}
