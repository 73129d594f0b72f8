#include "engine/jobs/CCompositeState.h"

namespace talbo::tesk::vorta {

std::wstring CCompositeState::RunFrom(const std::wstring& hostName, const std::wstring& startName) {
    std::wstring result = defaultResult;
    // The machines built here have no cycles, so every path leaves the table.
    for (auto it = subStates.find(startName); it != subStates.end(); it = subStates.find(result)) {
        result = it->second->Execute(hostName);
    }
    return result;
}

}  // namespace talbo::tesk::vorta
