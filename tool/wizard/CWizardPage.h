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

protected:
    CVortaFWUpdateToolUIDlg& Frame() const { return frame; }

private:
    CVortaFWUpdateToolUIDlg& frame;
};
