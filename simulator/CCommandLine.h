#pragma once
// The simulator's command line and its help text.

#include <optional>
#include <string>
#include <vector>

#include "simulator/CFleetConfig.h"
#include "simulator/DeviceSettings.h"

namespace talbo::tesk::vorta::devsim {

struct SimulatorOptions {
    FleetRequest fleet;
    ListenAddress listen{"127.0.0.1", 8080, false};
    std::optional<std::string> imagePath;
    std::string logPath = "-";
    std::optional<std::string> portFile;
    bool help = false;
    bool version = false;
};

// nullopt with an error text when the arguments are not valid.
std::optional<SimulatorOptions> ParseCommandLine(const std::vector<std::string>& arguments,
                                                 std::string& error);

const char* HelpText();

}  // namespace talbo::tesk::vorta::devsim
