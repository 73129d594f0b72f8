#include "tool/wizard/UserSettings.h"

QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("TALBO"),
                     QStringLiteral("VortaFWUpdateTool"));
}

std::optional<int> SRememberedNumber::Remembered() const {
    bool ok = false;
    const int value = UserSettings().value(QString::fromLatin1(key)).toInt(&ok);
    if (!ok || value < minimum || value > maximum) {
        return std::nullopt;
    }
    return value;
}

void SRememberedNumber::Remember(int value) const {
    if (value < minimum || value > maximum) {
        return;
    }
    QSettings settings = UserSettings();
    settings.setValue(QString::fromLatin1(key), value);
}
