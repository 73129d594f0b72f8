#pragma once
// The results a device's run can end with: the names the engine's states pass on, and the code
// that the device's "progress" shows and hosts turn into messages and exit codes. These numbers
// live here and nowhere else; the exported interfaces still carry them as plain ints.

#include <optional>
#include <string_view>

namespace talbo::tesk::vorta {

enum class EResultCode : int {
    Success = 100,
    SameVersion = -2,
    TimeOut = -3,
    AnotherUpdating = -4,
    Print = -5,
    WebConfig = -7,
    WebContents = -8,
    Utility = -9,
    StatusPrint = -10,
    Initialization = -11,
    ServerDirectPrint = -12,
    StatusNotification = -13,
    OtherError = -14,
    DowngradeInquiry = -15,
    UpdateSkip = -16,
    WebContentsUpdater = -17,
    HIDNotification = -18,
    VersionNotConfirmed = -19,
    // The job was drained (stopped from starting devices) before this device started: it was
    // not touched.
    NotStarted = -20,
};

constexpr int ToInt(EResultCode code) {
    return static_cast<int>(code);
}

// Progress values that are no result of a run: what GetProgress gives for a host the model does
// not know, and a code no result of this engine has but hosts still show with the printing text.
inline constexpr int kUnknownHostProgress = -1;
inline constexpr int kReservedPrintProgress = -6;

// A progress value ends a device's run when it is the success value or any negative code; the
// downgrade question is negative too but waits for an answer instead.
constexpr bool IsSuccess(int progress) {
    return progress == ToInt(EResultCode::Success);
}

constexpr bool IsAwaitingAnswer(int progress) {
    return progress == ToInt(EResultCode::DowngradeInquiry);
}

constexpr bool HasEnded(int progress) {
    return IsSuccess(progress) || progress < 0;
}

// Whether a result says the device was busy (an application of its own, or another tool
// rewriting it) and refused the work: it may be free a little later. The engine does not count
// such a refusal as a failure while the device has not yet entered its update mode, and hosts
// retry it.
constexpr bool IsBusyResult(int progress) {
    constexpr EResultCode kBusy[] = {
        EResultCode::AnotherUpdating,
        EResultCode::Print,
        EResultCode::WebConfig,
        EResultCode::WebContents,
        EResultCode::Utility,
        EResultCode::StatusPrint,
        EResultCode::Initialization,
        EResultCode::ServerDirectPrint,
        EResultCode::StatusNotification,
        EResultCode::WebContentsUpdater,
        EResultCode::HIDNotification,
    };
    if (progress == kReservedPrintProgress) {
        return true;
    }
    for (const EResultCode code : kBusy) {
        if (progress == ToInt(code)) {
            return true;
        }
    }
    return false;
}

struct SResultName {
    const wchar_t* name;
    EResultCode code;
};

// Every result name and its code. Several refusals share "OtherError"'s code.
inline constexpr SResultName kResultNames[] = {
    {L"NormalEnd", EResultCode::Success},
    {L"SameVersion", EResultCode::SameVersion},
    {L"TimeOut", EResultCode::TimeOut},
    {L"AnotherUpdating", EResultCode::AnotherUpdating},
    {L"Print", EResultCode::Print},
    {L"WebConfig", EResultCode::WebConfig},
    {L"WebContents", EResultCode::WebContents},
    {L"Utility", EResultCode::Utility},
    {L"StatusPrint", EResultCode::StatusPrint},
    {L"Initialization", EResultCode::Initialization},
    {L"ServerDirectPrint", EResultCode::ServerDirectPrint},
    {L"StatusNotification", EResultCode::StatusNotification},
    {L"NotCorrespond", EResultCode::OtherError},
    {L"VersionNotSame", EResultCode::OtherError},
    {L"InvalidFile", EResultCode::OtherError},
    {L"ModeNotChanged", EResultCode::OtherError},
    {L"OtherError", EResultCode::OtherError},
    {L"SchemaError", EResultCode::OtherError},
    {L"DowngradeInquiry", EResultCode::DowngradeInquiry},
    {L"UpdateSkip", EResultCode::UpdateSkip},
    {L"WebContentsUpdater", EResultCode::WebContentsUpdater},
    {L"HIDNotification", EResultCode::HIDNotification},
    {L"VersionNotConfirmed", EResultCode::VersionNotConfirmed},
    {L"NotStarted", EResultCode::NotStarted},
};

// The code of a result name; none for a name that is no result.
constexpr std::optional<EResultCode> ResultCodeOf(std::wstring_view name) {
    for (const SResultName& entry : kResultNames) {
        if (name == entry.name) {
            return entry.code;
        }
    }
    return std::nullopt;
}

}  // namespace talbo::tesk::vorta
