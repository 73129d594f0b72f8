#pragma once

#include <vector>

#include "tool/app/DeviceReport.h"
#include "tool/wizard/CDeviceListModel.h"

// The job whose results a device list shows: the device page's communication test or the update
// page's rewrite.
enum class EListJob { Test, Rewrite };

// Where a list's columns are.
struct SReportColumns {
    int model = 1;
    int version = 2;  // the version the device runs, as last read
    int result = 3;   // progress and result
};

// The outcome class of a device's final progress value in a job: the exit code a command-line
// run of that device alone would give (a passed test: 0).
int OutcomeClass(EListJob job, int resultCode);
// Whether a device ended the job in failure (outcome class -100 or -200), as the list's filter
// and "Check failed only" take it; a rewrite that left a device alone as newer or already
// current is no failure.
CDeviceListModel::ERowOutcome RowOutcome(EListJob job, int resultCode);

// One record per row of the last job (rows not in it are left out), in registration order:
// host, model, versions and result text as the row shows them, the outcome class, the final
// progress value and the times the page saw. A failed test read nothing, so its model and
// version are empty; the version after is only given for a device that was rewritten, as the
// command line's report gives it.
std::vector<talbo::tesk::vorta::SDeviceReport> JobReport(const CDeviceListModel& rows, EListJob job,
                                                         const SReportColumns& columns);
