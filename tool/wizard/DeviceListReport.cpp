#include "tool/wizard/DeviceListReport.h"

#include "tool/app/ExitCodes.h"

namespace tv = talbo::tesk::vorta;

CDeviceListModel::ERowOutcome RowOutcome(const tv::SDeviceReport& device) {
    return device.outcome == tv::kExitTestFailed || device.outcome == tv::kExitRewriteFailed
               ? CDeviceListModel::ERowOutcome::Failed
               : CDeviceListModel::ERowOutcome::Succeeded;
}
