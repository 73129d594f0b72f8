#include "common/VersionDecision.h"

#include <algorithm>

namespace talbo::tesk::vorta::common {

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// A version's digits split into its major number (without leading zeros) and the digits of
// everything after it.
struct SVersionDigits {
    std::wstring major;
    std::wstring rest;
};

SVersionDigits DigitsOf(std::wstring_view text) {
    SVersionDigits digits;
    std::size_t pos = 0;
    while (pos < text.size() && !IsDigit(text[pos])) {
        ++pos;
    }
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        if (!digits.major.empty() || text[pos] != L'0') {
            digits.major.push_back(text[pos]);
        }
    }
    for (; pos < text.size(); ++pos) {
        if (IsDigit(text[pos])) {
            digits.rest.push_back(text[pos]);
        }
    }
    return digits;
}

std::wstring_view Trimmed(std::wstring_view text) {
    constexpr std::wstring_view kWhiteSpace = L" \t\r\n";
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::wstring_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

}  // namespace

bool CVersionDecision::IsDeviceNewer(std::wstring_view imageVersion,
                                     std::wstring_view deviceVersion) {
    if (deviceVersion.empty()) {
        return false;
    }
    const SVersionDigits image = DigitsOf(imageVersion);
    const SVersionDigits device = DigitsOf(deviceVersion);
    // Without leading zeros the longer number is the larger; equal lengths compare as text.
    if (device.major.size() != image.major.size()) {
        return device.major.size() > image.major.size();
    }
    if (device.major != image.major) {
        return device.major > image.major;
    }
    std::wstring imageRest = image.rest;
    std::wstring deviceRest = device.rest;
    const std::size_t length = std::max(imageRest.size(), deviceRest.size());
    imageRest.resize(length, L'0');
    deviceRest.resize(length, L'0');
    return deviceRest > imageRest;
}

bool CVersionDecision::IsDowngrade(std::wstring_view testedStatus, std::wstring_view imageVersion,
                                   std::wstring_view deviceVersion) {
    return testedStatus == L"Idle" && IsDeviceNewer(imageVersion, deviceVersion);
}

bool CVersionDecision::IsAlreadyCurrent(std::wstring_view policy, std::wstring_view testedStatus,
                                        std::wstring_view imageVersion,
                                        std::wstring_view deviceVersion) {
    if (policy != L"skip" && policy != L"inquiry") {
        return false;
    }
    if (testedStatus != L"Idle") {
        return false;
    }
    const std::wstring_view image = Trimmed(imageVersion);
    return !image.empty() && image == Trimmed(deviceVersion);
}

}  // namespace talbo::tesk::vorta::common
