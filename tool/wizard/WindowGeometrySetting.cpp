#include "tool/wizard/WindowGeometrySetting.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

#include "tool/wizard/UserSettings.h"

namespace WindowGeometrySetting {

namespace {

QString Key() {
    return QStringLiteral("window/geometry");
}

// Whether the window's top edge (where its title bar is grabbed) lies on some screen.
bool OnSomeScreen(const QRect& frame) {
    const QRect top(frame.topLeft(), QSize(frame.width(), std::min(frame.height(), 32)));
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shared = screen->availableGeometry().intersected(top);
        if (shared.width() >= std::min(top.width(), 64) && !shared.isEmpty()) {
            return true;
        }
    }
    return false;
}

}  // namespace

void Restore(QWidget& window) {
    const QByteArray remembered = UserSettings().value(Key()).toByteArray();
    if (remembered.isEmpty() || !window.restoreGeometry(remembered)) {
        return;
    }
    // A maximised window fills its screen as it is.
    if ((window.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) != 0) {
        return;
    }
    QRect geometry = window.geometry();
    geometry.setSize(geometry.size().expandedTo(window.minimumSize()));
    if (!OnSomeScreen(geometry)) {
        if (const QScreen* primary = QGuiApplication::primaryScreen()) {
            const QRect available = primary->availableGeometry();
            geometry.setSize(
                geometry.size().boundedTo(available.size()).expandedTo(window.minimumSize()));
            geometry.moveCenter(available.center());
        }
    }
    window.setGeometry(geometry);
}

void Remember(const QWidget& window) {
    QSettings settings = UserSettings();
    settings.setValue(Key(), window.saveGeometry());
}

}  // namespace WindowGeometrySetting
