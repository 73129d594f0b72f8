#pragma once

class QWidget;

// The wizard window's size and position, remembered between runs in the user's Qt settings
// ($XDG_CONFIG_HOME/TALBO/VortaFWUpdateTool.conf, key "window/geometry").
namespace WindowGeometrySetting {

// Gives a window that has not been shown yet its remembered size and position, where that is
// usable: a size below the window's minimum grows to it, and a window that would not lie on any
// screen (a monitor since removed, a damaged entry) is centred on the primary screen instead.
// Nothing remembered leaves the window as it is.
void Restore(QWidget& window);
// Remembers the window's size and position (and whether it is maximised).
void Remember(const QWidget& window);

}  // namespace WindowGeometrySetting
