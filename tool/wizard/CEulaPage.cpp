#include "tool/wizard/CEulaPage.h"

#include <QVBoxLayout>

#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"
#include "tool/wizard/PageStyle.h"
#include "tool/wizard/WizardText.h"

CEulaPage::CEulaPage(CVortaFWUpdateToolUIDlg& frame)
    : CWizardPage(frame),
      m_btnAccept(this),
      m_btnDecline(this),
      m_staticTitle(this),
      m_staticPrompt(this),
      m_editLicence(this) {
    setObjectName(QStringLiteral("eulaPage"));
    BuildLayout();
    // The choice's state, not the click, drives Next: a choice made with the keyboard or by an
    // assistive technology over the accessibility bus toggles the button without any click.
    connect(&m_btnAccept, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) {
            OnAccept();
        }
    });
    connect(&m_btnDecline, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) {
            OnDecline();
        }
    });
}

CEulaPage::~CEulaPage() = default;

void CEulaPage::BuildLayout() {
    m_btnAccept.setObjectName(QStringLiteral("accept"));
    m_btnDecline.setObjectName(QStringLiteral("decline"));
    m_editLicence.setObjectName(QStringLiteral("licence"));
    StyleHeading(m_staticTitle);
    m_staticPrompt.setWordWrap(true);
    m_editLicence.setReadOnly(true);
    m_editLicence.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_editLicence.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Keyboard users can still move through the text with the cursor keys.
    m_editLicence.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(PageMargins(*this));
    layout->addWidget(&m_staticTitle);
    layout->addSpacing(DialogUnitsY(*this, 8));
    layout->addWidget(&m_staticPrompt);
    layout->addWidget(&m_editLicence, 1);
    layout->addWidget(&m_btnAccept);
    layout->addWidget(&m_btnDecline);
}

bool CEulaPage::OnInitDialog() {
    m_strTitle = UIText(L"FSTR-0100");
    m_strPrompt = UIText(L"FSTR-0101");
    m_strLicence = UIText(L"FSTR-0102");
    m_btnAccept.setText(UIText(L"FSTR-0103"));
    m_btnDecline.setText(UIText(L"FSTR-0104"));
    SetAccessibleText(m_btnAccept, m_btnAccept.text());
    SetAccessibleText(m_btnDecline, m_btnDecline.text());
    SetAccessibleText(m_editLicence, m_strTitle);
    TransferToControls();
    m_btnDecline.setChecked(true);
    Frame().NextButton().setEnabled(false);
    return false;
}

void CEulaPage::TransferToControls() {
    m_staticTitle.setText(m_strTitle);
    m_staticPrompt.setText(m_strPrompt);
    // The licence file ends its lines with CR LF; the text box wants one line break each.
    QString licence = m_strLicence;
    licence.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_editLicence.setPlainText(licence);
}

void CEulaPage::OnAccept() {
    Frame().NextButton().setEnabled(true);
}

void CEulaPage::OnDecline() {
    Frame().NextButton().setEnabled(false);
}

bool CEulaPage::OnSetActive() {
    if (m_btnDecline.isChecked()) {
        m_btnDecline.setFocus();
    } else {
        m_btnAccept.setFocus();
    }
    return true;
}
