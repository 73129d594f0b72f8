#pragma once

#include <QMargins>

#include "tool/wizard/DialogUnits.h"

class QLabel;
class QWidget;

// The look shared by the pages: a bold heading and margins of ten dialog units.
void StyleHeading(QLabel& heading);
QMargins PageMargins(const QWidget& page);
