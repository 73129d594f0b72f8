#pragma once

#include <QDialog>
#include <QFrame>
#include <QIcon>
#include <QPushButton>

#include <vector>

#include "tool/wizard/CDeviceRecords.h"
#include "tool/wizard/CDeviceSelectPage.h"
#include "tool/wizard/CEulaPage.h"
#include "tool/wizard/CUpdatePage.h"
#include "tool/wizard/WizardEngineAccess.h"

class QStackedLayout;

// The wizard: the licence, device and update pages in this order, one shown at a time, above
// the Back, Next/Update and Cancel buttons. Cancel, Escape and the window's Close end it, except
// while a page has disabled them because the engine is working. The window opens with the size
// and position it had when it last ended (never below its minimum, always on a screen).
class CVortaFWUpdateToolUIDlg : public QDialog {
    Q_OBJECT

public:
    explicit CVortaFWUpdateToolUIDlg(WizardEngineAccess engine, QWidget* parent = nullptr);
    ~CVortaFWUpdateToolUIDlg() override;

    const WizardEngineAccess& Engine() const { return m_engine; }
    // The engine's device records found so far, shared by the pages.
    CDeviceRecords& DeviceRecords() { return m_deviceRecords; }

    // The frame's controls as the pages drive them.
    QPushButton& BackButton() { return m_btnBack; }
    QPushButton& NextButton() { return m_btnNext; }
    QPushButton& UpdateButton() { return m_btnUpdate; }
    QPushButton& CancelButton() { return m_btnCancel; }
    // The window's Close command; greyed while the engine works.
    void SetCloseEnabled(bool enable) { m_bCloseEnabled = enable; }
    // The shown page's DrainAndClose.
    bool DrainAndClose();
    bool IsCloseEnabled() const { return m_bCloseEnabled; }

    int CurrentPage() const { return m_nCurrentPage; }
    int PageCount() const { return m_nPageCount; }
    CEulaPage& EulaPage() { return m_pageEula; }
    CDeviceSelectPage& DevicePage() { return m_pageDevice; }
    CUpdatePage& UpdatePage() { return m_pageUpdate; }

    void OnBack();
    void OnNext();
    void OnUpdate();

    // Cancel: ends the wizard unless Cancel or Close is disabled.
    void reject() override;
    // Enter: the wizard has no default action.
    void accept() override {}
    // Every end of the wizard (Cancel, Close, a stop signal) remembers the window's geometry.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool OnInitDialog();
    void BuildLayout();
    void AddPage(CWizardPage& page);
    void ShowCurrentPage();

    WizardEngineAccess m_engine;
    CDeviceRecords m_deviceRecords;
    QIcon m_hIcon;
    int m_nPageCount = 0;
    int m_nCurrentPage = 0;
    std::vector<CWizardPage*> m_pages;
    CEulaPage m_pageEula;
    CDeviceSelectPage m_pageDevice;
    CUpdatePage m_pageUpdate;
    QFrame m_separator;
    QPushButton m_btnBack;
    QPushButton m_btnUpdate;
    QPushButton m_btnNext;
    QPushButton m_btnCancel;
    bool m_bCloseEnabled = true;
    QStackedLayout* m_pageStack = nullptr;
};
