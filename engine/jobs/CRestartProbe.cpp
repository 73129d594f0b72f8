#include "engine/jobs/CRestartProbe.h"

#include <chrono>
#include <cwchar>

#include "engine/jobs/CCommunicationTestReceive.h"
#include "engine/jobs/CCommunicationTestSend.h"
#include "engine/jobs/CConnectState.h"
#include "engine/jobs/ResultNames.h"
#include "engine/model/CDeviceTrace.h"
#include "engine/model/CStopSignal.h"
#include "engine/model/CUpdateModelIF.h"

namespace talbo::tesk::vorta {

CRestartProbe::CRestartProbe(CUpdateModelIF* model) : CCompositeState(model, kResultTimeOut) {
    Put(L"Connect", std::make_unique<CConnectState>(model, L"Send"));
    Put(L"Send", std::make_unique<CCommunicationTestSend>(model, L"Receive"));
    Put(L"Receive", std::make_unique<CCommunicationTestReceive>(model, L"End"));
}

int CRestartProbe::WaitForRestart(const std::wstring& hostName) {
    const unsigned retries = ReadTimingSetting(hostName, L"rebootretrymax");
    const unsigned retryWait = ReadTimingSetting(hostName, L"rebootretrywait");
    const unsigned firstWait = ReadTimingSetting(hostName, L"rebootfirstwait");
    CDeviceTrace* trace = model->DeviceTrace(hostName);
    if (trace != nullptr) {
        trace->BeginRestartWait(firstWait, retryWait, retries);
    }
    int r = ProbeOnce(hostName, firstWait);
    for (unsigned i = 0; r != 0 && i < retries && !StopRaised(); ++i) {
        r = ProbeOnce(hostName, retryWait);
    }
    if (trace != nullptr) {
        trace->EndRestartWait(r == 0, model->GetDeviceValue(hostName, L"accesstest"));
    }
    return r;
}

int CRestartProbe::ProbeOnce(const std::wstring& hostName, unsigned milliseconds) {
    if (milliseconds != 0 && !model->JobStop().SleepFor(std::chrono::milliseconds(milliseconds))) {
        return -1;
    }
    if (StopRaised()) {
        return -1;
    }
    CDeviceTrace* trace = model->DeviceTrace(hostName);
    if (trace != nullptr) {
        trace->BeginProbe(milliseconds);
    }
    const bool answered = RunFrom(hostName, L"Connect") == L"End";
    if (trace != nullptr) {
        trace->EndProbe(answered, model->GetDeviceValue(hostName, L"accesstest"));
    }
    return answered ? 0 : -1;
}

unsigned CRestartProbe::ReadTimingSetting(const std::wstring& hostName, const std::wstring& key) {
    const std::wstring value = model->GetDeviceValue(hostName, key);
    const long number = std::wcstol(value.c_str(), nullptr, 10);
    return number > 0 ? static_cast<unsigned>(number) : 0U;
}

bool CRestartProbe::StopRaised() const {
    return model->JobStop().Raised();
}

}  // namespace talbo::tesk::vorta
