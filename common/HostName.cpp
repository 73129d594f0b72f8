#include "common/HostName.h"

#include <algorithm>

namespace talbo::tesk::vorta::common {

bool IsHostNameCharacter(wchar_t c) noexcept {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'.' || c == L'-';
}

bool IsValidHostName(std::wstring_view name) noexcept {
    return !name.empty() && name.size() <= kMaxHostNameLength &&
           std::all_of(name.begin(), name.end(), IsHostNameCharacter);
}

}  // namespace talbo::tesk::vorta::common
