#pragma once

#include <QSettings>
#include <QString>

#include <optional>

// The wizard's remembered choices live in the user's Qt settings, named explicitly so that the
// file does not depend on the application object's names. Qt keeps user settings under XDG on
// Linux: $XDG_CONFIG_HOME/TALBO/VortaFWUpdateTool.conf (default ~/.config).
QSettings UserSettings();

// A whole number from minimum to maximum remembered under its key.
struct SRememberedNumber {
    const char* key;
    int minimum;
    int maximum;

    // The remembered value; none when nothing, or nothing in range, is remembered.
    std::optional<int> Remembered() const;
    // Remembers a value in range; others are ignored.
    void Remember(int value) const;
};

// The update page's choices: devices at a time, how many devices are rewritten first, and after
// how many failed devices the rewrite stops starting devices (0 switches either of the last two
// off).
inline constexpr SRememberedNumber kDevicesAtATimeSetting{"update/devicesAtATime", 1, 64};
inline constexpr SRememberedNumber kCanaryCountSetting{"update/canaryCount", 0, 9999};
inline constexpr SRememberedNumber kStopAfterFailuresSetting{"update/stopAfterFailures", 0, 9999};
