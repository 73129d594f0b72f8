#pragma once

#include <QMessageBox>

#include <string>

// Every message box of the tool: the text of a key (already looked up), the given icon and
// buttons, and the title of the tool as caption. Returns the button that closed it.
QMessageBox::StandardButton ShowWizardMessage(
    QWidget* parent, const QString& text, QMessageBox::Icon icon,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// The same for a key.
QMessageBox::StandardButton ShowWizardMessage(
    QWidget* parent, const wchar_t* key, QMessageBox::Icon icon,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
