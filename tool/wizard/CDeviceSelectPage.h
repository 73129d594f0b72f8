#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <vector>

#include "tool/wizard/CDeviceListTools.h"
#include "tool/wizard/CDeviceListView.h"
#include "tool/wizard/CWizardPage.h"

// Naming the devices (typed or imported from a list file), choosing the targets with the check
// boxes, and the access test, which the engine runs on its worker while this page polls it:
// each row shows its result as soon as its device ends, whatever the rows before it do.
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
    CDeviceListTools& ListTools() { return m_listTools; }

    static constexpr int kMaxNameLength = 254;

private:
    void BuildLayout();
    void InitTexts();
    // Copies the fields into the controls (false) or the controls into the fields (true).
    void UpdateData(bool saveAndValidate);
    void RefreshDeviceList();
    void SyncCheckStates();
    void EnableControls(bool enable);
    // Takes a row's state; true once its device has ended.
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
    // Before the test button: the keyboard reaches them in the order they are shown.
    CDeviceListTools m_listTools;
    QPushButton m_btnTest;
    bool m_bAnyFailed = false;
    // Rows whose device has not ended yet in the running test, in list order.
    std::vector<int> m_runningRows;

    QLabel m_staticTitle;
    QLabel m_staticNameLabel;
    QLabel m_staticFileLabel;
    QTimer m_timer;
};
