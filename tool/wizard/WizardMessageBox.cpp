#include "tool/wizard/WizardMessageBox.h"

#include "tool/wizard/WizardText.h"

QMessageBox::StandardButton ShowWizardMessage(QWidget* parent, const QString& text,
                                              QMessageBox::Icon icon,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, UIText(L"FSTR-0000"), text, buttons, parent);
    // The texts are plain: a "<" in a message must not turn it into markup.
    box.setTextFormat(Qt::PlainText);
    if (defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(defaultButton);
    }
    box.setEscapeButton(buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QMessageBox::StandardButton ShowWizardMessage(QWidget* parent, const wchar_t* key,
                                              QMessageBox::Icon icon,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton) {
    return ShowWizardMessage(parent, UIText(key), icon, buttons, defaultButton);
}
