#pragma once

#include "tool/session/DeviceReport.h"
#include "tool/wizard/CDeviceListModel.h"

// Whether a device ended its page's run session in failure (outcome class -100 or -200), as the
// list's filter and "Check failed only" take it: a failed test, a failed rewrite and a device the
// stopped rollout never started are failures; a device left alone as newer or already current
// is none.
CDeviceListModel::ERowOutcome RowOutcome(const talbo::tesk::vorta::SDeviceReport& device);
