#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QString>

#include "tool/wizard/CWizardPage.h"

// The licence agreement with its accept and decline choices; Next follows the accept choice.
class CEulaPage : public CWizardPage {
    Q_OBJECT

public:
    explicit CEulaPage(CVortaFWUpdateToolUIDlg& frame);
    ~CEulaPage() override;

    bool OnInitDialog() override;
    bool OnSetActive() override;

    void OnAccept();
    void OnDecline();

    QRadioButton& AcceptButton() { return m_btnAccept; }
    QRadioButton& DeclineButton() { return m_btnDecline; }
    QPlainTextEdit& LicenceText() { return m_editLicence; }

private:
    void BuildLayout();
    // Moves the text fields into their controls.
    void TransferToControls();

    QString m_strTitle;
    QString m_strPrompt;
    QRadioButton m_btnAccept;
    QRadioButton m_btnDecline;
    QString m_strLicence;

    QLabel m_staticTitle;
    QLabel m_staticPrompt;
    QPlainTextEdit m_editLicence;
};
