#pragma once
// The versions a run reports: the tool's own and the firmware version of the image it carries.

#include <string>

namespace talbo::tesk::vorta {

// The firmware version the carried image installs, read from its header; empty when the
// executable carries no image or its header names none.
std::wstring CarriedImageVersion();

// The tool's own version ("1.4.0").
std::string ToolVersion();

}  // namespace talbo::tesk::vorta
