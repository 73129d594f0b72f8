#include "tool/wizard/RolloutLimitSettings.h"

#include "tool/wizard/UserSettings.h"

namespace CanaryCountSetting {

std::optional<int> Remembered() {
    return RememberedNumber(QStringLiteral("update/canaryCount"), kMinimum, kMaximum);
}

void Remember(int devices) {
    RememberNumber(QStringLiteral("update/canaryCount"), devices, kMinimum, kMaximum);
}

}  // namespace CanaryCountSetting

namespace StopAfterFailuresSetting {

std::optional<int> Remembered() {
    return RememberedNumber(QStringLiteral("update/stopAfterFailures"), kMinimum, kMaximum);
}

void Remember(int failures) {
    RememberNumber(QStringLiteral("update/stopAfterFailures"), failures, kMinimum, kMaximum);
}

}  // namespace StopAfterFailuresSetting
