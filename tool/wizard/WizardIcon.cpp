#include "tool/wizard/WizardIcon.h"

QIcon WizardIcon() {
    // The resources live in a static library: this reference makes the linker keep them. (The
    // macro declares its function in the enclosing namespace, so it must be called from here.)
    Q_INIT_RESOURCE(wizard);
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/vorta/icons/%1x%1/vorta-fwupdate-tool.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}
