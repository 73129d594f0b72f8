#include "tool/app/SystemInfo.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <sys/utsname.h>

#include <algorithm>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace talbo::tesk::vorta {

namespace {

std::function<std::optional<KernelVersion>()>& VersionSource() {
    static std::function<std::optional<KernelVersion>()> source;
    return source;
}

std::function<bool()>& InterfaceSource() {
    static std::function<bool()> source;
    return source;
}

}  // namespace

int SystemDefaultLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return std::strncmp(value, "ja", 2) == 0 ? kLocaleJapanese : kLocaleEnglish;
        }
    }
    return kLocaleEnglish;
}

std::optional<KernelVersion> RunningKernelVersion() {
    if (VersionSource()) {
        return VersionSource()();
    }
    struct utsname name {};
    if (::uname(&name) != 0 || std::strcmp(name.sysname, "Linux") != 0) {
        return std::nullopt;
    }
    // The release starts with "MAJOR.MINOR"; what follows the minor number does not matter.
    const char* const end = name.release + std::strlen(name.release);
    KernelVersion version;
    const auto [dot, majorError] = std::from_chars(name.release, end, version.major);
    if (majorError != std::errc() || dot == end || *dot != '.' ||
        std::from_chars(dot + 1, end, version.minor).ec != std::errc()) {
        return std::nullopt;
    }
    return version;
}

bool IsSupportedKernel(const std::optional<KernelVersion>& version) {
    if (!version) {
        return false;
    }
    return version->major > 4 || (version->major == 4 && version->minor >= 19);
}

void SetKernelVersionSource(std::function<std::optional<KernelVersion>()> source) {
    VersionSource() = std::move(source);
}

bool HasUsableNetworkInterface() {
    if (InterfaceSource()) {
        return InterfaceSource()();
    }
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0) {
        return false;
    }
    bool found = false;
    for (const ifaddrs* entry = first; entry != nullptr && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        const std::size_t length =
            std::min<std::size_t>({link->sll_halen, sizeof link->sll_addr, 6});
        found = std::any_of(link->sll_addr, link->sll_addr + length,
                            [](unsigned char byte) { return byte != 0; });
    }
    ::freeifaddrs(first);
    return found;
}

void SetNetworkInterfaceSource(std::function<bool()> source) {
    InterfaceSource() = std::move(source);
}

}  // namespace talbo::tesk::vorta
