#pragma once

#include <QSize>

class QWidget;

// Sizes given in dialog units (a quarter of the average character width across, an eighth of
// the character height down) in logical pixels for the widget's font, so that the wizard keeps
// its proportions with any font and scale.
int DialogUnitsX(const QWidget& widget, int units);
int DialogUnitsY(const QWidget& widget, int units);
QSize DialogUnits(const QWidget& widget, int x, int y);
