#pragma once

#include <QSettings>
#include <QString>

#include <optional>

// The wizard's remembered choices live in the user's Qt settings, named explicitly so that the
// file does not depend on the application object's names. Qt keeps user settings under XDG on
// Linux: $XDG_CONFIG_HOME/TALBO/VortaFWUpdateTool.conf (default ~/.config).
QSettings UserSettings();

// A whole number remembered under key; none when nothing, or nothing from minimum to maximum,
// is remembered.
std::optional<int> RememberedNumber(const QString& key, int minimum, int maximum);
// Remembers a number from minimum to maximum under key; others are ignored.
void RememberNumber(const QString& key, int value, int minimum, int maximum);
