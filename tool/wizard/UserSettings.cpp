#include "tool/wizard/UserSettings.h"

QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("TALBO"),
                     QStringLiteral("VortaFWUpdateTool"));
}

std::optional<int> RememberedNumber(const QString& key, int minimum, int maximum) {
    bool ok = false;
    const int value = UserSettings().value(key).toInt(&ok);
    if (!ok || value < minimum || value > maximum) {
        return std::nullopt;
    }
    return value;
}

void RememberNumber(const QString& key, int value, int minimum, int maximum) {
    if (value < minimum || value > maximum) {
        return;
    }
    QSettings settings = UserSettings();
    settings.setValue(key, value);
}
