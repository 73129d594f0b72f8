#pragma once

#include <QObject>

class QWidget;

namespace talbo::tesk::vorta {
class SingleInstanceLock;
}

// Watches the single-instance lock: when a second start of the tool asks for it, the window comes
// to the front. Lives as a child of the window.
class RaiseOnRequest : public QObject {
    Q_OBJECT

public:
    RaiseOnRequest(QWidget& window, talbo::tesk::vorta::SingleInstanceLock& lock);

    // Restores, raises and activates the window.
    static void BringToFront(QWidget& window);

private:
    void OnRequest();

    QWidget& window;
    talbo::tesk::vorta::SingleInstanceLock& lock;
};
