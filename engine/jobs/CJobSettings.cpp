#include "engine/jobs/CJobSettings.h"

#include <cstdlib>

#include "engine/model/CUpdateModelIF.h"
#include "engine/model/DecimalText.h"

namespace talbo::tesk::vorta {

CJobSettings::CJobSettings(CUpdateModelIF* model) : model(model) {
    if (const char* text = std::getenv("VORTA_PARALLEL_DEVICES")) {
        const auto value = ReadPlainDecimal(text, kMaxDevicesAtATime);
        if (value && *value >= 1) {
            devicesAtATime = static_cast<int>(*value);
        }
    }
}

bool CJobSettings::SetDevicesAtATime(int devices) {
    if (devices < 1 || devices > kMaxDevicesAtATime) {
        return false;
    }
    try {
        if (!model->TryBeginBusy()) {
            return false;
        }
        devicesAtATime = devices;
        model->EndBusy();
        return true;
    } catch (...) {
        // Nothing may cross the library's boundary; the value stays as it was.
        return false;
    }
}

}  // namespace talbo::tesk::vorta
