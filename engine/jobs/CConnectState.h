#pragma once

#include "engine/jobs/CState.h"

namespace talbo::tesk::vorta {

// Makes a fresh connection to the host (the model drops the previous one) and opens it.
class CConnectState : public CState {
public:
    CConnectState(CUpdateModelIF* model, std::wstring nextName)
        : CState(model), nextName(std::move(nextName)) {}

    // nextName when open; "TimeOut" when no connection could be made or opened.
    std::wstring Execute(const std::wstring& hostName) override;

private:
    std::wstring nextName;
};

}  // namespace talbo::tesk::vorta
