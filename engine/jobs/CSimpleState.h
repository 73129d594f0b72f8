#pragma once

#include "engine/jobs/CState.h"

namespace talbo::tesk::vorta {

// Returns a fixed name; touches nothing. Serves as end state and as pass-through.
class CSimpleState : public CState {
public:
    explicit CSimpleState(std::wstring nextName) : CState(nullptr), nextName(std::move(nextName)) {}

    std::wstring Execute(const std::wstring& /*hostName*/) override { return nextName; }

private:
    std::wstring nextName;
};

}  // namespace talbo::tesk::vorta
