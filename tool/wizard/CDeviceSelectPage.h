#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include "tool/wizard/CDeviceListView.h"
#include "tool/wizard/CWizardPage.h"

// Naming the devices (typed or imported from a list file), choosing the targets with the check
// boxes, and the access test, which the engine runs on its worker while this page polls it.
class CDeviceSelectPage : public CWizardPage {
    Q_OBJECT

public:
    explicit CDeviceSelectPage(CVortaFWUpdateToolUIDlg& frame);
    ~CDeviceSelectPage() override;

    bool OnInitDialog() override;
    bool OnSetActive() override;

    void OnAddDevice();
    void OnBrowseDeviceList();
    void OnAccessTest();
    void OnDeviceListItemChanged(int row, bool checked);
    void OnTimer();

    QLineEdit& NameEntry() { return m_editName; }
    QLineEdit& FileEntry() { return m_editFile; }
    QPushButton& AddButton() { return m_btnAdd; }
    QPushButton& BrowseButton() { return m_btnBrowse; }
    QPushButton& TestButton() { return m_btnTest; }
    CDeviceListView& List() { return m_list; }

    static constexpr int kMaxNameLength = 254;

private:
    void BuildLayout();
    void InitTexts();
    // Copies the fields into the controls (false) or the controls into the fields (true).
    void UpdateData(bool saveAndValidate);
    void RefreshDeviceList();
    void SyncCheckStates();
    void EnableControls(bool enable);
    bool PollTestResult(int row);
    void ShowTestSuccess(int row);
    void ShowTestFailure(int row, int resultCode);

    QString m_strTitle;
    QString m_strNameLabel;
    QLineEdit m_editName;
    QString m_strDeviceName;
    QPushButton m_btnAdd;
    QString m_strFileLabel;
    QLineEdit m_editFile;
    QString m_strImportFile;
    QPushButton m_btnBrowse;
    CDeviceListView m_list;
    QPushButton m_btnTest;
    bool m_bAnyFailed = false;
    int m_nNextRow = 0;

    QLabel m_staticTitle;
    QLabel m_staticNameLabel;
    QLabel m_staticFileLabel;
    QTimer m_timer;
};
