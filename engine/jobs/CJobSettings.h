#pragma once

#include <atomic>

#include "engine/interface/CUpdateSettingsExport.h"

namespace talbo::tesk::vorta {

class CUpdateModelIF;

// The job settings hosts may change between jobs. The number of devices at a time starts from
// VORTA_PARALLEL_DEVICES when it holds a plain decimal number from 1 to 64, else 1. A change
// takes the model's busy token for its moment, so it is refused while a job runs.
class CJobSettings : public CUpdateSettingsExport {
public:
    explicit CJobSettings(CUpdateModelIF* model);

    bool SetDevicesAtATime(int devices) override;
    int GetDevicesAtATime() override { return devicesAtATime.load(); }

private:
    CUpdateModelIF* model;  // shared, not owned
    std::atomic<int> devicesAtATime{1};
};

}  // namespace talbo::tesk::vorta
