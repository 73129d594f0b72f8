#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "tool/wizard/DialogUnits.h"
#include "tool/wizard/WindowGeometrySetting.h"
#include "tool/wizard/WizardIcon.h"
#include "tool/wizard/WizardText.h"

CVortaFWUpdateToolUIDlg::CVortaFWUpdateToolUIDlg(WizardEngineAccess engine, QWidget* parent)
    : QDialog(parent),
      m_engine(std::move(engine)),
      m_hIcon(WizardIcon()),
      m_pageEula(*this),
      m_pageDevice(*this),
      m_pageUpdate(*this),
      m_separator(this),
      m_btnBack(this),
      m_btnUpdate(this),
      m_btnNext(this),
      m_btnCancel(this) {
    setObjectName(QStringLiteral("VortaFWUpdateToolUIDlg"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    BuildLayout();
    connect(&m_btnBack, &QPushButton::clicked, this, &CVortaFWUpdateToolUIDlg::OnBack);
    connect(&m_btnNext, &QPushButton::clicked, this, &CVortaFWUpdateToolUIDlg::OnNext);
    connect(&m_btnUpdate, &QPushButton::clicked, this, &CVortaFWUpdateToolUIDlg::OnUpdate);
    connect(&m_btnCancel, &QPushButton::clicked, this, &CVortaFWUpdateToolUIDlg::reject);
    OnInitDialog();
    WindowGeometrySetting::Restore(*this);
}

CVortaFWUpdateToolUIDlg::~CVortaFWUpdateToolUIDlg() {
    // A wizard destroyed while shown has not been through done().
    if (isVisible()) {
        WindowGeometrySetting::Remember(*this);
    }
}

void CVortaFWUpdateToolUIDlg::done(int result) {
    if (isVisible()) {
        WindowGeometrySetting::Remember(*this);
    }
    QDialog::done(result);
}

void CVortaFWUpdateToolUIDlg::BuildLayout() {
    m_separator.setFrameShape(QFrame::HLine);
    m_separator.setFrameShadow(QFrame::Sunken);
    m_btnBack.setObjectName(QStringLiteral("back"));
    m_btnNext.setObjectName(QStringLiteral("next"));
    m_btnUpdate.setObjectName(QStringLiteral("update"));
    m_btnCancel.setObjectName(QStringLiteral("cancel"));
    const int buttonWidth = DialogUnitsX(*this, 50);
    for (QPushButton* button : {&m_btnBack, &m_btnNext, &m_btnUpdate, &m_btnCancel}) {
        // No button is the dialog's default: Enter presses nothing.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setMinimumWidth(buttonWidth);
    }
    // As laid out: Back and Next start disabled, Update starts hidden (and, as whenever it is
    // hidden, disabled).
    m_btnBack.setEnabled(false);
    m_btnNext.setEnabled(false);
    m_btnUpdate.setVisible(false);
    m_btnUpdate.setEnabled(false);

    m_pageStack = new QStackedLayout;
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(&m_btnBack);
    // Next and Update share one place; only one of them is ever shown.
    buttons->addWidget(&m_btnNext);
    buttons->addWidget(&m_btnUpdate);
    buttons->addSpacing(DialogUnitsX(*this, 7));
    buttons->addWidget(&m_btnCancel);

    auto* frame = new QVBoxLayout(this);
    frame->addLayout(m_pageStack, 1);
    frame->addWidget(&m_separator);
    frame->addLayout(buttons);
    setMinimumSize(DialogUnits(*this, 366, 210));
}

bool CVortaFWUpdateToolUIDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);
    setWindowTitle(UIText(L"FSTR-0000"));
    m_btnBack.setText(UIText(L"FSTR-0105"));
    m_btnNext.setText(UIText(L"FSTR-0106"));
    m_btnUpdate.setText(UIText(L"FSTR-0310"));
    m_btnCancel.setText(UIText(L"FSTR-0107"));
    for (QPushButton* button : {&m_btnBack, &m_btnNext, &m_btnUpdate, &m_btnCancel}) {
        SetAccessibleText(*button, button->text());
    }

    for (CWizardPage* page :
         {static_cast<CWizardPage*>(&m_pageEula), static_cast<CWizardPage*>(&m_pageDevice),
          static_cast<CWizardPage*>(&m_pageUpdate)}) {
        m_pageStack->addWidget(page);
        page->OnInitDialog();
        AddPage(*page);
    }
    m_nCurrentPage = 0;
    ShowCurrentPage();
    return false;
}

void CVortaFWUpdateToolUIDlg::AddPage(CWizardPage& page) {
    m_pages.push_back(&page);
    ++m_nPageCount;
}

void CVortaFWUpdateToolUIDlg::ShowCurrentPage() {
    for (int i = 0; i < m_nPageCount; ++i) {
        if (i == m_nCurrentPage) {
            m_pageStack->setCurrentWidget(m_pages[i]);
            m_pages[i]->OnSetActive();
        }
    }
}

void CVortaFWUpdateToolUIDlg::OnNext() {
    if (!m_pages[m_nCurrentPage]->OnWizardNext()) {
        return;
    }
    m_pages[m_nCurrentPage]->OnKillActive();
    ++m_nCurrentPage;
    m_btnBack.setEnabled(true);
    if (m_nCurrentPage >= m_nPageCount - 1) {
        m_btnNext.setEnabled(false);
        m_btnNext.setVisible(false);
        m_btnUpdate.setEnabled(true);
        m_btnUpdate.setVisible(true);
        m_btnUpdate.setFocus();
    }
    ShowCurrentPage();
}

void CVortaFWUpdateToolUIDlg::OnBack() {
    if (!m_pages[m_nCurrentPage]->OnWizardBack()) {
        return;
    }
    m_pages[m_nCurrentPage]->OnKillActive();
    --m_nCurrentPage;
    if (m_nCurrentPage <= 0) {
        m_btnBack.setEnabled(false);
        m_btnNext.setFocus();
    }
    m_btnNext.setEnabled(true);
    m_btnNext.setVisible(true);
    m_btnUpdate.setVisible(false);
    m_btnUpdate.setEnabled(false);
    ShowCurrentPage();
}

void CVortaFWUpdateToolUIDlg::OnUpdate() {
    m_pages[m_nCurrentPage]->OnWizardUpdate();
}

void CVortaFWUpdateToolUIDlg::reject() {
    // While a test or a rewrite runs the engine's worker must not be unloaded under it, so no
    // route (Cancel, Escape, Close) ends the wizard then.
    if (!m_btnCancel.isEnabled() || !m_bCloseEnabled) {
        return;
    }
    QDialog::reject();
}

bool CVortaFWUpdateToolUIDlg::DrainAndClose() {
    return m_pages[m_nCurrentPage]->DrainAndClose();
}

void CVortaFWUpdateToolUIDlg::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void CVortaFWUpdateToolUIDlg::closeEvent(QCloseEvent* event) {
    if (!m_btnCancel.isEnabled() || !m_bCloseEnabled) {
        event->ignore();
        m_pages[m_nCurrentPage]->OnCloseRefused();
        return;
    }
    QDialog::closeEvent(event);
}
