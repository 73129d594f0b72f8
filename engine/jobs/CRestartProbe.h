#pragma once

#include "engine/jobs/CCompositeState.h"

namespace talbo::tesk::vorta {

// Reads a device that may be restarting with the communication-test exchange: a probe stores
// the device's model name, version and status ("accesstest") in the model, as the test does.
// The waits between probes follow the device's timing values and end early when the job's
// stop signal is raised.
class CRestartProbe : public CCompositeState {
public:
    explicit CRestartProbe(CUpdateModelIF* model);

protected:
    // 0 when a probe got an answer within the device's first wait and retries, -1 otherwise
    // (also when the job is being stopped).
    int WaitForRestart(const std::wstring& hostName);
    // Sleeps the given time, then probes once: 0 when the device answered, -1 otherwise.
    int ProbeOnce(const std::wstring& hostName, unsigned milliseconds);
    // The device's value under key as a decimal number from its start; 0 when it has none.
    unsigned ReadTimingSetting(const std::wstring& hostName, const std::wstring& key);
    bool StopRaised() const;
};

}  // namespace talbo::tesk::vorta
