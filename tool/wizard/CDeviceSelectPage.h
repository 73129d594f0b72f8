#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include <vector>

#include "tool/wizard/CDeviceListTools.h"
#include "tool/wizard/CDeviceListView.h"
#include "tool/wizard/CSessionRunner.h"
#include "tool/wizard/CWizardPage.h"

// Naming the devices (typed or imported from a list file), choosing the targets with the check
// boxes, and the access test: a run session of the checked devices' communication test (kind
// TestOnly), which the engine runs on its worker while the session is polled. Each running row
// shows the test's progress, and its result as soon as its device ends, whatever the rows
// before it do. Names are taken as DeviceNaming.h says: list files read as the tool reads them
// for operators, numeric spellings refused with the reason, one device under one name.
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
    // The run session's steps.
    void OnTestStarted();
    void OnDeviceEnded(int index);
    void OnPolled();
    void OnTestFinished();
    void ShowTestSuccess(int row, const QString& result);

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
    CSessionRunner m_runner;
    // Per device of the session (its index), the row that shows it.
    std::vector<int> m_sessionRows;
    // The session's devices that have not ended yet, in registration order.
    std::vector<int> m_running;

    QLabel m_staticTitle;
    QLabel m_staticNameLabel;
    QLabel m_staticFileLabel;
};
