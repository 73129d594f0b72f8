#pragma once

#include <optional>

// The operator's choice of how many devices a job works on at once, remembered between runs in
// the user's Qt settings: $XDG_CONFIG_HOME/TALBO/VortaFWUpdateTool.conf (by default
// ~/.config/TALBO/VortaFWUpdateTool.conf), key "update/devicesAtATime".
namespace DevicesAtATimeSetting {

inline constexpr int kMinimum = 1;
inline constexpr int kMaximum = 64;

// The remembered value; none when nothing (or nothing usable) is remembered.
std::optional<int> Remembered();
// Remembers a value from kMinimum to kMaximum; others are ignored.
void Remember(int devices);

}  // namespace DevicesAtATimeSetting
