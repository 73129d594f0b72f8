#pragma once

#include <QButtonGroup>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QString>

#include <string>
#include <vector>

#include "tool/session/RolloutOptions.h"
#include "tool/wizard/CDeviceListTools.h"
#include "tool/wizard/CDeviceListView.h"
#include "tool/wizard/CSessionRunner.h"
#include "tool/wizard/CWizardPage.h"

// The rewrite: the checked devices with their versions, the choice for a device that runs newer
// firmware, how many devices the engine works on at once, how many are rewritten first and after
// how many failed devices the rewrite stops starting devices, and the frame's Update button,
// which runs the checked devices as a run session of kind RewriteTested (the image goes to the
// engine once per run, on a worker thread; "Rewrite first" makes the first wave, the stop rule
// holds between and within waves). Each row shows its own progress and step as they happen and
// its result as soon as its device ends; a summary line under the list counts the devices and
// the time, and a line under it says when the rollout was stopped by its rule. While a rewrite
// runs, "Stop after the devices in progress" drains it (no further device starts, those in
// progress finish); closing the window then asks for the same, and the window closes after.
class CUpdatePage : public CWizardPage {
    Q_OBJECT

public:
    explicit CUpdatePage(CVortaFWUpdateToolUIDlg& frame);
    ~CUpdatePage() override;

    bool OnInitDialog() override;
    bool OnWizardUpdate() override;
    bool OnSetActive() override;
    void OnCloseRefused() override;
    bool DrainAndClose() override;

    void OnUpdateListItemChanged(int row, bool checked);

    CDeviceListView& List() { return m_list; }
    QRadioButton& AskButton() { return m_radioAsk; }
    QRadioButton& SkipButton() { return m_radioSkip; }
    QRadioButton& RewriteButton() { return m_radioRewrite; }
    QSpinBox& DevicesAtATimeBox() { return m_spinDevicesAtATime; }
    QSpinBox& CanaryCountBox() { return m_spinCanaryCount; }
    QSpinBox& StopAfterFailuresBox() { return m_spinStopAfterFailures; }
    CDeviceListTools& ListTools() { return m_listTools; }
    QLabel& SummaryLine() { return m_staticSummary; }
    // Empty and hidden unless the last rewrite was stopped by its rule.
    QLabel& RolloutStatus() { return m_staticRolloutStatus; }
    // Shown while a rewrite runs.
    QPushButton& StopAfterDevicesInProgressButton() { return m_btnStopAfterDevicesInProgress; }

    // How many devices to rewrite first, before the others; 0: all alike.
    int CanaryCount() const { return m_spinCanaryCount.value(); }
    // After how many failed devices the rewrite stops starting devices; 0: never.
    int StopAfterFailures() const { return m_spinStopAfterFailures.value(); }
    bool IsImageLoaded() const { return m_runner.IsImageLoaded(); }
    // The rollout the spin boxes ask for: "Rewrite first N" makes a first wave of N devices
    // (the rest the last), "Stop after M failed" the stop rule; with a first wave and no stop
    // setting the first counted failure stops the rewrite.
    talbo::tesk::vorta::SRolloutOptions RolloutOptions() const;

    // The step of a running device in words, from its "phase" value and its progress: "part 7
    // of 11", "waiting for restart"; a device the job has not reached yet is "waiting".
    static QString PhaseText(const QString& phase, int progress);
    // The summary line: devices done, failed and still waiting, and the time since the start.
    static QString SummaryText(int done, int failed, int waiting, qint64 elapsedMs);

private:
    void BuildLayout();
    void InitTexts();
    void UpdateData(bool saveAndValidate);
    void InitDevicesAtATime();
    void InitRolloutLimits();
    void OnDevicesAtATimeChanged(int devices);
    // Hands the chosen number to the engine; false when the engine refuses it.
    bool ApplyDevicesAtATime();
    // The run session's steps.
    void OnRewriteStarted();
    void OnDeviceEnded(int index);
    void OnPolled();
    void OnRewriteFinished();
    // The downgrade question for the device, asked through the session; true rewrites it.
    bool AskDowngrade(const std::wstring& host);
    // Drains the running rewrite; closeWhenDone ends the wizard once it has finished. False
    // when no rewrite runs.
    bool StopAfterDevicesInProgress(bool closeWhenDone);
    void ShowProgress(int row, int percentage);
    void FillVersionColumns(int row);
    void ShowSummary();
    void RefreshUpdateList();
    void EnableControls(bool enable);

    QString m_strTitle;
    CDeviceListView m_list;
    CDeviceListTools m_listTools;
    QString m_strGroupTitle;
    // Holds the radios as its children, so it must be destroyed after them.
    QGroupBox m_groupDowngrade;
    QRadioButton m_radioAsk;
    QRadioButton m_radioSkip;
    QRadioButton m_radioRewrite;
    int m_nDowngradeChoice = 0;
    bool m_bAnyFailed = false;
    CSessionRunner m_runner;
    // Per device of the session (its index), the row that shows it.
    std::vector<int> m_sessionRows;
    // The session's devices that have not ended yet, in registration order.
    std::vector<int> m_running;
    bool m_bCloseWhenFinished = false;
    int m_nDone = 0;
    int m_nFailed = 0;
    QElapsedTimer m_elapsed;

    QLabel m_staticTitle;
    QLabel m_staticSummary;
    QLabel m_staticRolloutStatus;
    QPushButton m_btnStopAfterDevicesInProgress;
    QLabel m_staticDevicesAtATime;
    QSpinBox m_spinDevicesAtATime;
    QLabel m_staticCanaryCount;
    QSpinBox m_spinCanaryCount;
    QLabel m_staticStopAfterFailures;
    QSpinBox m_spinStopAfterFailures;
    QButtonGroup m_downgradeChoices;
};
