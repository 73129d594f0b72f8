#pragma once

#include "engine/jobs/CState.h"

namespace talbo::tesk::vorta {

// A nested machine: its states by name, run from a start name until a returned name is not in
// the table; that name is the composite's result.
class CCompositeState : public CState {
public:
    CCompositeState(CUpdateModelIF* model, std::wstring defaultResult)
        : CState(model), defaultResult(std::move(defaultResult)) {}

    // Runs the machine from startName; defaultResult when startName is not in the table.
    std::wstring RunFrom(const std::wstring& hostName, const std::wstring& startName);

protected:
    // Puts a state under a name, destroying any state stored there before.
    void Put(const std::wstring& name, std::unique_ptr<CState> state) {
        subStates[name] = std::move(state);
    }

    CStateTable subStates;
    std::wstring defaultResult;
};

}  // namespace talbo::tesk::vorta
