#include "tool/app/SystemInfo.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace talbo::tesk::vorta {

namespace {

std::function<std::optional<KernelVersion>()>& VersionSource() {
    static std::function<std::optional<KernelVersion>()> source;
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
    KernelVersion version;
    if (std::sscanf(name.release, "%d.%d", &version.major, &version.minor) != 2) {
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

}  // namespace talbo::tesk::vorta
