#pragma once

#include <QWidget>

class CVortaFWUpdateToolUIDlg;

// A page of the wizard. The frame asks it before a move (a false answer cancels the move), tells
// it when it is shown and left, and hands it the frame's Update button.
class CWizardPage : public QWidget {
    Q_OBJECT

public:
    explicit CWizardPage(CVortaFWUpdateToolUIDlg& frame);
    ~CWizardPage() override;

    // Runs once, when the frame creates its pages.
    virtual bool OnInitDialog() { return false; }

    virtual bool OnWizardBack() { return true; }
    virtual bool OnWizardNext() { return true; }
    virtual bool OnWizardUpdate() { return true; }
    virtual bool OnSetActive() { return true; }
    virtual bool OnKillActive() { return true; }
    // The window was asked to close while the page works (the close was refused); the page may
    // offer a way out.
    virtual void OnCloseRefused() {}
    // Stops the page's work as a stop signal asks: a rewrite stops starting devices, lets those
    // in progress finish and then ends the wizard itself (true). False when nothing runs that
    // could finish that way; the caller then ends the wizard at once.
    virtual bool DrainAndClose() { return false; }

protected:
    CVortaFWUpdateToolUIDlg& Frame() const { return frame; }

private:
    CVortaFWUpdateToolUIDlg& frame;
};
