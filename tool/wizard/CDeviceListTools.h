#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <vector>

#include "tool/session/DeviceReport.h"
#include "tool/wizard/CDeviceListView.h"

// One row of controls for a device list and the last job of its page: which rows to show (all,
// failed, unfinished), "Check failed only" (checks exactly the rows that failed, so that the
// next job retries just those) and "Save report..." (the last job's run session as a CSV file).
// The list is shared, not owned; the page tells the row when its job starts and ends.
class CDeviceListTools : public QWidget {
    Q_OBJECT

public:
    // The name the save dialog offers.
    static constexpr const char* kDefaultReportName = "vorta-report.csv";

    explicit CDeviceListTools(CDeviceListView& list, QWidget* parent = nullptr);

    void InitTexts();

    // While locked (a job runs or is being started) neither button works; the filter does.
    void SetLocked(bool locked);
    // The page's job has ended with these devices' reports (its run session's, in registration
    // order): they can be saved from now on, and the failed rows checked while any row failed.
    void JobEnded(std::vector<talbo::tesk::vorta::SDeviceReport> report);

    // Checks every row whose device failed in the last job and unchecks every other row, each
    // through the list's check change, as a user's click would.
    void CheckFailedOnly();
    // Asks for a file and writes the last job's report to it; a failure is shown with its
    // reason, and nothing half-written is left.
    void SaveReport();
    // Selects the row and scrolls it into view, showing every row first when the filter hides
    // it.
    void RevealRow(int row);

    QComboBox& FilterBox() { return m_comboFilter; }
    QPushButton& CheckFailedButton() { return m_btnCheckFailed; }
    QPushButton& SaveReportButton() { return m_btnSaveReport; }

private:
    void OnFilterChosen(int index);
    void RefreshButtons();

    CDeviceListView& m_list;
    std::vector<talbo::tesk::vorta::SDeviceReport> m_report;
    bool m_bLocked = false;
    bool m_bJobEnded = false;

    QLabel m_staticFilter;
    QComboBox m_comboFilter;
    QPushButton m_btnCheckFailed;
    QPushButton m_btnSaveReport;
};
