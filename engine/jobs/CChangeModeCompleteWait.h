#pragma once

#include <map>

#include "engine/jobs/CRestartProbe.h"

namespace talbo::tesk::vorta {

// Waits for a restarting device: probes it with the communication test after the device's
// first wait, then up to its retry count more times after each retry wait, and judges the
// status the restarted device reports.
class CChangeModeCompleteWait : public CRestartProbe {
public:
    CChangeModeCompleteWait(CUpdateModelIF* model, const std::wstring& successName);

    // successName when the device came back "Idle" or "SelfUpdating"; the part number when it
    // reports an unfinished update at a part (the update plan decides whether it holds that
    // part); the status when it is a refusal a device answer can carry ("AnotherUpdating", a
    // busy application, "OtherError"); "TimeOut" when no probe got an answer. Any other status,
    // result names a device could send as free text included, gives "OtherError": only the
    // statuses above may steer the update on.
    std::wstring Execute(const std::wstring& hostName) override;

private:
    std::map<std::wstring, std::wstring> resultAliases;
};

}  // namespace talbo::tesk::vorta
