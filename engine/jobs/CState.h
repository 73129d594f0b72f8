#pragma once

#include <map>
#include <memory>
#include <string>

namespace talbo::tesk::vorta {

class CUpdateModelIF;

// One step of an exchange with one device. Execute does the step for a host and returns the
// name of the state to run next; failures are names too ("TimeOut", "OtherError", ...).
class CState {
public:
    explicit CState(CUpdateModelIF* model) : model(model) {}
    virtual ~CState() = default;

    CState(const CState&) = delete;
    CState& operator=(const CState&) = delete;

    virtual std::wstring Execute(const std::wstring& hostName) = 0;

protected:
    CUpdateModelIF* model;  // shared, not owned
};

// States by name. The table owns its states: putting a state under a name that already holds
// one destroys the old state.
using CStateTable = std::map<std::wstring, std::unique_ptr<CState>>;

}  // namespace talbo::tesk::vorta
