#include "tool/wizard/DevicesAtATimeSetting.h"

#include <QSettings>

namespace DevicesAtATimeSetting {

namespace {

QString Key() {
    return QStringLiteral("update/devicesAtATime");
}

// Named explicitly, so the file does not depend on the application object's names. Qt keeps user
// settings under XDG on Linux: $XDG_CONFIG_HOME/TALBO/VortaFWUpdateTool.conf (default ~/.config).
QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("TALBO"),
                     QStringLiteral("VortaFWUpdateTool"));
}

}  // namespace

std::optional<int> Remembered() {
    bool ok = false;
    const int devices = UserSettings().value(Key()).toInt(&ok);
    if (!ok || devices < kMinimum || devices > kMaximum) {
        return std::nullopt;
    }
    return devices;
}

void Remember(int devices) {
    if (devices < kMinimum || devices > kMaximum) {
        return;
    }
    QSettings settings = UserSettings();
    settings.setValue(Key(), devices);
}

}  // namespace DevicesAtATimeSetting
