#include "engine/jobs/CJobSettings.h"

#include <cstdlib>

#include "engine/jobs/CDowngradeInquiry.h"
#include "engine/jobs/CJobFrame.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/model/DecimalText.h"

namespace talbo::tesk::vorta {

CJobSettings::CJobSettings(CUpdateModelIF* model, CJobFrame& frame,
                           const CDowngradeInquiry& inquiry)
    : model(model), frame(frame), inquiry(inquiry) {
    if (const char* text = std::getenv("VORTA_PARALLEL_DEVICES")) {
        const auto value = ReadPlainDecimal(text, kMaxDevicesAtATime);
        if (value && *value >= 1) {
            devicesAtATime = static_cast<int>(*value);
        }
    }
}

bool CJobSettings::SetBetweenJobs(std::atomic<int>& setting, int value) {
    try {
        if (!model->TryBeginBusy()) {
            return false;
        }
        setting = value;
        model->EndBusy();
        return true;
    } catch (...) {
        // Nothing may cross the library's boundary; the value stays as it was.
        return false;
    }
}

bool CJobSettings::SetDevicesAtATime(int devices) {
    if (devices < 1 || devices > kMaxDevicesAtATime) {
        return false;
    }
    return SetBetweenJobs(devicesAtATime, devices);
}

bool CJobSettings::SetStopAfterFailures(int failures) {
    if (failures < 0) {
        return false;
    }
    return SetBetweenJobs(stopAfterFailures, failures);
}

EJobState CJobSettings::GetJobState() {
    const EJobState state = frame.State();
    return state == EJobState::Updating && inquiry.IsOpen() ? EJobState::AwaitingAnswer : state;
}

int CJobSettings::GetCountedFailures() {
    try {
        return frame.CountedFailures();
    } catch (...) {
        return 0;
    }
}

bool CJobSettings::StopStartingDevices() {
    try {
        return frame.StopStarting();
    } catch (...) {
        return false;
    }
}

}  // namespace talbo::tesk::vorta
