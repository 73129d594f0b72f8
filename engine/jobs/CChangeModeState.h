#pragma once

#include "engine/jobs/CCompositeState.h"

namespace talbo::tesk::vorta {

// Switches a device into its update mode with the named image part ("ChangeMode" request),
// optionally followed by the wait for the device's restart.
class CChangeModeState : public CCompositeState {
public:
    CChangeModeState(CUpdateModelIF* model, const std::wstring& successName,
                     const std::wstring& partName, bool restartWait);

    std::wstring Execute(const std::wstring& hostName) override {
        return RunFrom(hostName, L"Connect");
    }
};

}  // namespace talbo::tesk::vorta
