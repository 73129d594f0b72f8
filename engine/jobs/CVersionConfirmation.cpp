#include "engine/jobs/CVersionConfirmation.h"

#include "engine/jobs/ResultNames.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/AnalysisTrees.h"

namespace talbo::tesk::vorta {

namespace {

std::wstring TrimXmlSpace(const std::wstring& text) {
    constexpr const wchar_t* kSpace = L" \t\r\n";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::wstring::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

}  // namespace

CVersionConfirmation::CVersionConfirmation(CUpdateModelIF* model, std::wstring imageVersion)
    : CRestartProbe(model), imageVersion(std::move(imageVersion)) {}

std::wstring CVersionConfirmation::Execute(const std::wstring& hostName) {
    if (model == nullptr) {
        return kResultOtherError;
    }
    if (ProbeOnce(hostName, 0) != 0 && (StopRaised() || WaitForRestart(hostName) != 0)) {
        return kResultTimeOut;
    }
    const std::wstring version = TrimXmlSpace(model->GetDeviceValue(hostName, L"version"));
    if (version.empty() || version != imageVersion) {
        return kResultVersionNotConfirmed;
    }
    std::wstring status = model->GetDeviceValue(hostName, L"accesstest");
    if (status == kResultIdle) {
        return kResultNormalEnd;
    }
    if (status == L"AnotherUpdating" || IsApplicationName(status)) {
        return status;
    }
    return kResultOtherError;
}

}  // namespace talbo::tesk::vorta
