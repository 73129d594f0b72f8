#pragma once

#include <optional>

// The update page's limits of a rewrite, remembered between runs in the user's Qt settings like
// the devices at a time ($XDG_CONFIG_HOME/TALBO/VortaFWUpdateTool.conf): how many devices are
// rewritten first, key "update/canaryCount", and after how many failed devices the rewrite
// stops starting devices, key "update/stopAfterFailures". 0 switches either off.
namespace CanaryCountSetting {

inline constexpr int kMinimum = 0;
inline constexpr int kMaximum = 9999;

// The remembered value; none when nothing (or nothing usable) is remembered.
std::optional<int> Remembered();
// Remembers a value from kMinimum to kMaximum; others are ignored.
void Remember(int devices);

}  // namespace CanaryCountSetting

namespace StopAfterFailuresSetting {

inline constexpr int kMinimum = 0;
inline constexpr int kMaximum = 9999;

std::optional<int> Remembered();
void Remember(int failures);

}  // namespace StopAfterFailuresSetting
