#include "engine/jobs/CChangeModeCompleteWait.h"

#include <chrono>
#include <thread>

#include "engine/jobs/CCommunicationTestReceive.h"
#include "engine/jobs/CCommunicationTestSend.h"
#include "engine/jobs/CConnectState.h"
#include "engine/jobs/ResultNames.h"
#include "engine/model/CUpdateModelIF.h"

namespace talbo::tesk::vorta {

CChangeModeCompleteWait::CChangeModeCompleteWait(CUpdateModelIF* model,
                                                 const std::wstring& successName)
    : CCompositeState(model, kResultTimeOut) {
    Put(L"Connect", std::make_unique<CConnectState>(model, L"Send"));
    Put(L"Send", std::make_unique<CCommunicationTestSend>(model, L"Receive"));
    Put(L"Receive", std::make_unique<CCommunicationTestReceive>(model, L"End"));
    resultAliases[L"Idle"] = successName;
    resultAliases[L"SelfUpdating"] = successName;
}

std::wstring CChangeModeCompleteWait::Execute(const std::wstring& hostName) {
    if (model == nullptr) {
        return kResultOtherError;
    }
    if (WaitForRestart(hostName) != 0) {
        return kResultTimeOut;
    }
    const std::wstring status = model->GetDeviceValue(hostName, L"accesstest");
    const auto alias = resultAliases.find(status);
    return alias != resultAliases.end() ? alias->second : status;
}

int CChangeModeCompleteWait::WaitForRestart(const std::wstring& hostName) {
    const unsigned retries = ReadTimingSetting(hostName, L"rebootretrymax");
    const unsigned retryWait = ReadTimingSetting(hostName, L"rebootretrywait");
    const unsigned firstWait = ReadTimingSetting(hostName, L"rebootfirstwait");
    int r = ProbeOnce(hostName, firstWait);
    for (unsigned i = 0; r != 0 && i < retries; ++i) {
        r = ProbeOnce(hostName, retryWait);
    }
    return r;
}

int CChangeModeCompleteWait::ProbeOnce(const std::wstring& hostName, unsigned milliseconds) {
    if (milliseconds != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    return RunFrom(hostName, L"Connect") == L"End" ? 0 : -1;
}

unsigned CChangeModeCompleteWait::ReadTimingSetting(const std::wstring& hostName,
                                                    const std::wstring& key) {
    const std::wstring value = model->GetDeviceValue(hostName, key);
    // A decimal number from the start of the value; missing or non-numeric gives 0.
    const long number = std::wcstol(value.c_str(), nullptr, 10);
    return number > 0 ? static_cast<unsigned>(number) : 0U;
}

}  // namespace talbo::tesk::vorta
