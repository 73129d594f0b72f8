#include "engine/model/RebootTimings.h"

#include <cstdint>
#include <cstdlib>

#include "engine/model/DecimalText.h"

namespace talbo::tesk::vorta {

namespace {

constexpr std::uint32_t kMaxWaitMilliseconds = 86400000;  // one day
constexpr std::uint32_t kMaxRetries = 1000;

std::wstring ValueOrDefault(const char* variable, std::uint32_t max, const wchar_t* fallback) {
    const char* text = std::getenv(variable);
    if (text == nullptr) {
        return fallback;
    }
    const std::optional<std::uint32_t> value = ReadPlainDecimal(text, max);
    return value ? std::to_wstring(*value) : std::wstring(fallback);
}

}  // namespace

RebootTimings CurrentRebootTimings() {
    return RebootTimings{
        ValueOrDefault("VORTA_REBOOT_FIRST_WAIT_MS", kMaxWaitMilliseconds, L"120000"),
        ValueOrDefault("VORTA_REBOOT_RETRY_WAIT_MS", kMaxWaitMilliseconds, L"10000"),
        ValueOrDefault("VORTA_REBOOT_RETRY_MAX", kMaxRetries, L"5"),
    };
}

}  // namespace talbo::tesk::vorta
