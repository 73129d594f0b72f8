#include "tool/wizard/PageStyle.h"

#include <QLabel>

void StyleHeading(QLabel& heading) {
    QFont font = heading.font();
    font.setBold(true);
    heading.setFont(font);
    heading.setWordWrap(true);
}

QMargins PageMargins(const QWidget& page) {
    const int x = DialogUnitsX(page, 10);
    const int y = DialogUnitsY(page, 10);
    return QMargins(x, y, x, 0);
}
