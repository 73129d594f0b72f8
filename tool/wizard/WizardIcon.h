#pragma once

#include <QIcon>

// The program icon, in every size the tool carries.
QIcon WizardIcon();
