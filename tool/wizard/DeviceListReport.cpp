#include "tool/wizard/DeviceListReport.h"

#include "engine/interface/ResultCodes.h"
#include "tool/app/ExitCodes.h"
#include "tool/app/RunOutcome.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;

int OutcomeClass(EListJob job, int resultCode) {
    if (job == EListJob::Test) {
        return tv::IsSuccess(resultCode) ? tv::kExitRewritten
                                         : tv::TestFailedOutcome(resultCode).exitCode;
    }
    return tv::RewriteOutcome(resultCode).exitCode;
}

CDeviceListModel::ERowOutcome RowOutcome(EListJob job, int resultCode) {
    const int outcome = OutcomeClass(job, resultCode);
    return outcome == tv::kExitTestFailed || outcome == tv::kExitRewriteFailed
               ? CDeviceListModel::ERowOutcome::Failed
               : CDeviceListModel::ERowOutcome::Succeeded;
}

std::vector<tv::SDeviceReport> JobReport(const CDeviceListModel& rows, EListJob job,
                                         const SReportColumns& columns) {
    std::vector<tv::SDeviceReport> report;
    for (int row = 0; row < rows.RowCount(); ++row) {
        const CDeviceListModel::SRowJob& part = rows.RowJob(row);
        if (part.outcome == CDeviceListModel::ERowOutcome::None) {
            continue;
        }
        tv::SDeviceReport& device = report.emplace_back();
        device.host = ToWString(rows.Text(row, 0));
        device.resultCode = part.resultCode;
        device.outcome = OutcomeClass(job, part.resultCode);
        device.result = ToWString(rows.Text(row, columns.result));
        device.start = part.start;
        device.end = part.end;
        if (job == EListJob::Test) {
            device.testAttempts = 1;
            if (tv::IsSuccess(part.resultCode)) {
                device.model = ToWString(rows.Text(row, columns.model));
                device.versionBefore = ToWString(rows.Text(row, columns.version));
            }
            continue;
        }
        // A device the drained job never started was not tested either.
        device.testAttempts = part.resultCode == tv::ToInt(tv::EResultCode::NotStarted) ? 0 : 1;
        device.model = ToWString(rows.Text(row, columns.model));
        device.versionBefore = ToWString(part.versionBefore);
        if (tv::IsSuccess(part.resultCode)) {
            device.versionAfter = ToWString(rows.Text(row, columns.version));
        }
    }
    return report;
}
