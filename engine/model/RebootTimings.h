#pragma once
// Restart timing values a device gets when it is registered. Labs and simulators shorten them
// through the environment: VORTA_REBOOT_FIRST_WAIT_MS, VORTA_REBOOT_RETRY_WAIT_MS and
// VORTA_REBOOT_RETRY_MAX replace the defaults when they hold a plain decimal number within
// range; anything else leaves the default.

#include <string>

namespace talbo::tesk::vorta {

struct RebootTimings {
    std::wstring firstWait;  // "rebootfirstwait", milliseconds
    std::wstring retryWait;  // "rebootretrywait", milliseconds
    std::wstring retryMax;   // "rebootretrymax", number of later checks
};

// The values to register now: the environment is read on every call.
RebootTimings CurrentRebootTimings();

}  // namespace talbo::tesk::vorta
