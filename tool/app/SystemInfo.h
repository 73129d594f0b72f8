#pragma once
// What the tool asks of the running system: the interface language, whether the system is
// supported and whether it has a network interface devices can be told apart by. The version and
// the interfaces are injectable so that tests can try every case.

#include <functional>
#include <optional>

namespace talbo::tesk::vorta {

inline constexpr int kLocaleJapanese = 1041;
inline constexpr int kLocaleEnglish = 1033;

// 1041 when the first set of LC_ALL, LC_MESSAGES and LANG starts with "ja", else 1033.
int SystemDefaultLocale();

struct KernelVersion {
    int major = 0;
    int minor = 0;
};

// The running kernel's version from uname; nullopt when it cannot be read.
std::optional<KernelVersion> RunningKernelVersion();

// Linux 4.19 or newer is supported; an unreadable version is not.
bool IsSupportedKernel(const std::optional<KernelVersion>& version);

// Replaces the version source (tests); an empty function restores uname.
void SetKernelVersionSource(std::function<std::optional<KernelVersion>()> source);

// Whether some network interface has a hardware address (an AF_PACKET entry whose first six
// bytes are not all zero). Every request to a device carries the computer's hardware address;
// without one the engine could only end every device as unrecognised, so a run stops before it
// contacts anyone.
bool HasUsableNetworkInterface();

// Replaces the interface check (tests); an empty function restores getifaddrs.
void SetNetworkInterfaceSource(std::function<bool()> source);

}  // namespace talbo::tesk::vorta
