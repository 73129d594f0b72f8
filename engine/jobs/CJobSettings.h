#pragma once

#include <atomic>

#include "engine/interface/CUpdateSettingsExport.h"

namespace talbo::tesk::vorta {

class CDowngradeInquiry;
class CJobFrame;
class CUpdateModelIF;

// The job settings and job control hosts reach through the third entry point. The number of
// devices at a time starts from VORTA_PARALLEL_DEVICES when it holds a plain decimal number
// from 1 to 64, else 1. A change of a setting takes the model's busy token for its moment, so
// it is refused while a job runs; the state and the drain are the job frame's.
class CJobSettings : public CUpdateSettingsExport {
public:
    // All three are shared, not owned, and outlive the settings.
    CJobSettings(CUpdateModelIF* model, CJobFrame& frame, const CDowngradeInquiry& inquiry);

    bool SetDevicesAtATime(int devices) override;
    int GetDevicesAtATime() override { return devicesAtATime.load(); }
    EJobState GetJobState() override;
    bool StopStartingDevices() override;
    bool SetStopAfterFailures(int failures) override;
    int GetStopAfterFailures() override { return stopAfterFailures.load(); }
    int GetCountedFailures() override;

private:
    // Stores value into setting while holding the busy token; false when a job holds it.
    bool SetBetweenJobs(std::atomic<int>& setting, int value);

    CUpdateModelIF* model;
    CJobFrame& frame;
    const CDowngradeInquiry& inquiry;
    std::atomic<int> devicesAtATime{1};
    std::atomic<int> stopAfterFailures{0};
};

}  // namespace talbo::tesk::vorta
