#pragma once
// The texts of --help and --version. Both come before any start-up work: they need neither a
// display, nor the temporary folder, nor the engine.

#include <string>

namespace talbo::tesk::vorta {

// The usage of the single-device and the batch forms and every option.
std::string UsageText();

// The tool's version, the carried image's version and the carried engine's, one per line.
std::string VersionText();

}  // namespace talbo::tesk::vorta
