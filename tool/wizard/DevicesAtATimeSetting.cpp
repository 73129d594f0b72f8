#include "tool/wizard/DevicesAtATimeSetting.h"

#include "tool/wizard/UserSettings.h"

namespace DevicesAtATimeSetting {

namespace {

QString Key() {
    return QStringLiteral("update/devicesAtATime");
}

}  // namespace

std::optional<int> Remembered() {
    return RememberedNumber(Key(), kMinimum, kMaximum);
}

void Remember(int devices) {
    RememberNumber(Key(), devices, kMinimum, kMaximum);
}

}  // namespace DevicesAtATimeSetting
