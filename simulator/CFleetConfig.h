#pragma once
// Turns the fleet file and the command-line flags into the list of devices to simulate.
//
// Fleet file (JSON):
//   { "defaults": { <device fields> },
//     "devices": [ { "host": "device-1.invalid", <device fields> }, ... ] }
// Device fields: "model", "firmware", "status", "app-name", "progress", "update-version",
// "auth" ("digest", "basic" or "none"), "restart-ms", "pretty" (true: indented answers),
// "listen" (direct mode), "faults" (list).
// Precedence: a device's own field, then a command-line flag, then "defaults", then built-in.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "simulator/DeviceSettings.h"

namespace talbo::tesk::vorta::devsim {

struct DeviceOverrides {
    std::optional<std::string> model;
    std::optional<std::string> firmware;
    std::optional<std::string> status;
    std::optional<std::string> appName;
    std::optional<std::string> progress;
    std::optional<AuthScheme> auth;
    std::optional<int> restartMs;
    std::optional<bool> pretty;
};

// How many devices --devices may generate: in direct mode each needs a loopback address.
inline constexpr int kMaxDirectDevices = 250;
inline constexpr int kMaxProxyDevices = 10000;

struct FleetRequest {
    std::optional<std::filesystem::path> fleetFile;
    std::optional<int> generatedDevices;  // without a fleet file: 3
    DeviceOverrides overrides;
    bool direct = false;
    int directPort = 80;  // port of generated devices and of fleet devices without one
    std::vector<std::pair<std::string, Fault>> extraFaults;  // host or "*", fault
    // One device that answers as this trace recorded (all jobs of it, or only the given one).
    std::optional<std::filesystem::path> replayFile;
    std::optional<int> replayJob;
};

std::optional<AuthScheme> ParseAuthScheme(std::string_view text);

// Reads the fleet text (the content of a fleet file) on top of the flags.
std::optional<std::vector<DeviceSettings>> FleetFromJson(const std::string& text,
                                                         const FleetRequest& request,
                                                         std::string& error);
std::optional<std::vector<DeviceSettings>> BuildFleet(const FleetRequest& request,
                                                      std::string& error);

}  // namespace talbo::tesk::vorta::devsim
