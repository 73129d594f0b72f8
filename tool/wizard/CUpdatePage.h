#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QString>
#include <QTimer>

#include <atomic>
#include <thread>

#include "tool/wizard/CDeviceListView.h"
#include "tool/wizard/CWizardPage.h"

// The rewrite: the checked devices with their versions, the choice for a device that runs newer
// firmware, and the frame's Update button, which hands the image to the engine (once per run, on
// a worker thread) and follows the engine's rewrite by polling every device.
class CUpdatePage : public CWizardPage {
    Q_OBJECT

public:
    explicit CUpdatePage(CVortaFWUpdateToolUIDlg& frame);
    ~CUpdatePage() override;

    bool OnInitDialog() override;
    bool OnWizardUpdate() override;
    bool OnSetActive() override;

    void OnUpdateListItemChanged(int row, bool checked);
    void OnTimer();
    int OnImageLoaded(bool success);

    CDeviceListView& List() { return m_list; }
    QRadioButton& AskButton() { return m_radioAsk; }
    QRadioButton& SkipButton() { return m_radioSkip; }
    QRadioButton& RewriteButton() { return m_radioRewrite; }
    bool IsImageLoaded() const { return m_bImageLoaded; }

    // The text of the progress column for a percentage: three places, right-aligned, then "%".
    static QString ProgressText(int percentage);

private:
    void BuildLayout();
    void InitTexts();
    void UpdateData(bool saveAndValidate);
    void LoadImageThread();
    bool StartUpdateJob();
    void AskDowngrade();
    bool PollUpdateResult(int row);
    void ShowUpdateSuccess(int row);
    void ShowUpdateResult(int row, int resultCode);
    void ShowProgress(int row, int percentage);
    void FillVersionColumns(int row);
    void RefreshUpdateList();
    void EnableControls(bool enable);

    QString m_strTitle;
    CDeviceListView m_list;
    QString m_strGroupTitle;
    // Holds the radios as its children, so it must be destroyed after them.
    QGroupBox m_groupDowngrade;
    QRadioButton m_radioAsk;
    QRadioButton m_radioSkip;
    QRadioButton m_radioRewrite;
    int m_nDowngradeChoice = 0;
    bool m_bAnyFailed = false;
    int m_nNextRow = 0;
    // Set by the load worker, read on the main thread.
    std::atomic<bool> m_bImageLoaded{false};
    std::thread m_pLoadThread;

    QLabel m_staticTitle;
    QButtonGroup m_downgradeChoices;
    QTimer m_timer;
};
