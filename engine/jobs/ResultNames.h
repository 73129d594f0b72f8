#pragma once
// Result names shared by the states and the controller.

namespace talbo::tesk::vorta {

inline constexpr const wchar_t* kResultTimeOut = L"TimeOut";
inline constexpr const wchar_t* kResultOtherError = L"OtherError";
inline constexpr const wchar_t* kResultIdle = L"Idle";
inline constexpr const wchar_t* kResultNormalEnd = L"NormalEnd";
inline constexpr const wchar_t* kResultVersionNotConfirmed = L"VersionNotConfirmed";
inline constexpr const wchar_t* kResultSameVersion = L"SameVersion";
inline constexpr const wchar_t* kResultUpdateSkip = L"UpdateSkip";
inline constexpr const wchar_t* kResultDowngradeInquiry = L"DowngradeInquiry";
inline constexpr const wchar_t* kResultNotStarted = L"NotStarted";

}  // namespace talbo::tesk::vorta
