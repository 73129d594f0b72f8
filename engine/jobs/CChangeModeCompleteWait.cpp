#include "engine/jobs/CChangeModeCompleteWait.h"

#include <algorithm>

#include "engine/jobs/ResultNames.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/AnalysisTrees.h"

namespace talbo::tesk::vorta {

namespace {

bool IsPartNumber(const std::wstring& status) {
    return !status.empty() && status.size() <= 9 &&
           std::all_of(status.begin(), status.end(),
                       [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

}  // namespace

CChangeModeCompleteWait::CChangeModeCompleteWait(CUpdateModelIF* model,
                                                 const std::wstring& successName)
    : CRestartProbe(model) {
    resultAliases[L"Idle"] = successName;
    resultAliases[L"SelfUpdating"] = successName;
}

std::wstring CChangeModeCompleteWait::Execute(const std::wstring& hostName) {
    if (model == nullptr) {
        return kResultOtherError;
    }
    model->SetDeviceValue(hostName, L"phase", L"restart");
    if (WaitForRestart(hostName) != 0) {
        return kResultTimeOut;
    }
    std::wstring status = model->GetDeviceValue(hostName, L"accesstest");
    if (const auto alias = resultAliases.find(status); alias != resultAliases.end()) {
        return alias->second;
    }
    if (IsPartNumber(status) || status == L"AnotherUpdating" || IsApplicationName(status)) {
        return status;
    }
    return kResultOtherError;
}

}  // namespace talbo::tesk::vorta
