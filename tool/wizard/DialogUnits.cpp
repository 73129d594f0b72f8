#include "tool/wizard/DialogUnits.h"

#include <QFontMetrics>
#include <QWidget>

namespace {

// The average width of the Latin letters, as the dialog-unit base is measured.
int AverageCharWidth(const QFontMetrics& metrics) {
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
}

}  // namespace

int DialogUnitsX(const QWidget& widget, int units) {
    return units * AverageCharWidth(widget.fontMetrics()) / 4;
}

int DialogUnitsY(const QWidget& widget, int units) {
    return units * widget.fontMetrics().height() / 8;
}

QSize DialogUnits(const QWidget& widget, int x, int y) {
    return QSize(DialogUnitsX(widget, x), DialogUnitsY(widget, y));
}
