#pragma once

#include <map>

#include "engine/jobs/CCompositeState.h"

namespace talbo::tesk::vorta {

// Waits for a restarting device: probes it with the communication test after the device's
// first wait, then up to its retry count more times after each retry wait, and judges the
// status the restarted device reports.
class CChangeModeCompleteWait : public CCompositeState {
public:
    CChangeModeCompleteWait(CUpdateModelIF* model, const std::wstring& successName);

    // successName when the device came back "Idle" or "SelfUpdating"; "TimeOut" when no probe
    // got an answer; otherwise the status the device reported.
    std::wstring Execute(const std::wstring& hostName) override;

private:
    int WaitForRestart(const std::wstring& hostName);
    int ProbeOnce(const std::wstring& hostName, unsigned milliseconds);
    unsigned ReadTimingSetting(const std::wstring& hostName, const std::wstring& key);

    std::map<std::wstring, std::wstring> resultAliases;
};

}  // namespace talbo::tesk::vorta
