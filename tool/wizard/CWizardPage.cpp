#include "tool/wizard/CWizardPage.h"

#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"

CWizardPage::CWizardPage(CVortaFWUpdateToolUIDlg& frame) : QWidget(&frame), frame(frame) {}

CWizardPage::~CWizardPage() = default;
