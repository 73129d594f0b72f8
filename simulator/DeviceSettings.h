#pragma once
// What one simulated device is: its names, its firmware, its status, how it authenticates, how
// long it restarts, where it listens in direct mode and the faults it shows.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/CAuthenticator.h"
#include "simulator/CFaultScript.h"

namespace talbo::tesk::vorta::devsim {

class CReplayScript;

struct ListenAddress {
    std::string host;  // numeric loopback address
    int port = 0;      // 0: any free port
    bool ipv6 = false;

    std::string ToString() const;
};

// "127.0.0.1:8080", "[::1]:8080" or, with a default port, a bare address. Only loopback
// addresses are accepted: the simulator serves this machine alone.
std::optional<ListenAddress> ParseListenAddress(std::string_view text,
                                                std::optional<int> defaultPort, std::string& error);

inline constexpr std::string_view kDefaultModel = "QX-Vorta-1000";
inline constexpr std::string_view kDefaultFirmware = "Ver.3.00TC";
inline constexpr std::string_view kDefaultStatus = "Idle";
inline constexpr int kDefaultRestartMs = 5000;

struct DeviceSettings {
    std::string host;
    std::string model{kDefaultModel};
    std::string firmware{kDefaultFirmware};
    std::string status{
        kDefaultStatus};  // Idle, SelfUpdating, Broken, AnotherUpdating, AnotherApp, ...
    std::string appName;  // AnotherApp: the busy application
    std::optional<std::string> progress;  // Broken: the first part not yet done
    std::string updateVersion;            // Broken: the version of the unfinished update
    AuthScheme auth = AuthScheme::Digest;
    int restartMs = kDefaultRestartMs;
    bool pretty = false;                  // answers indented, one element a line
    std::optional<ListenAddress> listen;  // direct mode
    std::vector<Fault> faults;
    // A device that answers as a recorded trace instead of following the update itself.
    std::shared_ptr<CReplayScript> replay;
};

}  // namespace talbo::tesk::vorta::devsim
