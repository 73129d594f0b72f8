#pragma once
// Driving the real wizard in a test: answering its modal message boxes and file dialogs as they
// come up (polled with a timer, never slept for), waiting for states with a deadline, and the
// fixture that shows a wizard over an engine of the test's choice.

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"

namespace wizardtest {

// One message box as the wizard showed it.
struct SeenMessage {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QMessageBox::StandardButton pressed = QMessageBox::NoButton;
};

// One file dialog as the wizard showed it.
struct SeenFileDialog {
    QStringList nameFilters;
    QString directory;
    QStringList selectedFiles;  // as the dialog offered them
};

// Answers every application-modal box in turn with the next queued answer. A box without a queued
// answer is closed with its escape button and counted as unexpected.
class ModalAnswerer : public QObject {
    Q_OBJECT

public:
    ModalAnswerer();
    ~ModalAnswerer() override;

    void Answer(QMessageBox::StandardButton button) { answers.push_back(button); }
    // The next file dialog selects path (an empty path cancels it).
    void ChooseFile(const QString& path) { files.push_back(path); }
    // Runs while a message box is up, before it is answered.
    std::function<void(QMessageBox&)> whileOpen;

    // Waits until count message boxes in all have been answered.
    bool WaitForMessages(std::size_t count, int timeoutMs = 15000);

    std::vector<SeenMessage> messages;
    std::vector<SeenFileDialog> fileDialogs;
    int unexpected = 0;

private:
    void Poll();

    QTimer poll;
    std::deque<QMessageBox::StandardButton> answers;
    std::deque<QString> files;
};

// Polls (processing events) until the condition holds or the deadline passes.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 15000);

// The text of a key, as the wizard shows it.
QString Text(const wchar_t* key);

// The lines of a CSV file without their CR LF ends, each split at its commas (the tests' fields
// hold no quoted commas); empty when the file cannot be read.
std::vector<QStringList> ReadCsv(const QString& path);

// A wizard shown over an engine, with the answerer. The engine is made by the derived fixture.
class WizardTest : public ::testing::Test {
protected:
    void ShowWizard(WizardEngineAccess engine);
    void TearDown() override;

    void Click(QAbstractButton& button);
    // From the licence page with accept chosen to the device page.
    void GoToDevicePage();
    // On to the update page (the device page needs a row for Next).
    void GoToUpdatePage();
    // Types a name and presses Add.
    void AddDevice(const QString& name);

    CVortaFWUpdateToolUIDlg& Dlg() { return *dialog; }
    CDeviceSelectPage& DevicePage() { return dialog->DevicePage(); }
    CUpdatePage& UpdatePage() { return dialog->UpdatePage(); }

    // The check box of a row, toggled as a click does it.
    static void SetRowChecked(CDeviceListView& list, int row, bool checked);
    // Toggles the check box of a row from the keyboard (Space on the current row).
    static void PressSpaceOnRow(CDeviceListView& list, int row);
    // The host names of the rows the list shows, in the view's order.
    static QStringList ShownHosts(const CDeviceListView& list);
    // While a job runs: the list is enabled (not greyed out) and its check boxes change neither
    // by a click nor from the keyboard.
    static void ExpectReadableWithLockedChecks(CDeviceListView& list);

    ModalAnswerer answerer;
    std::unique_ptr<CVortaFWUpdateToolUIDlg> dialog;
};

}  // namespace wizardtest
