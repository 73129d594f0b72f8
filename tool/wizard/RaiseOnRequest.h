#pragma once

#include <QObject>

class QWidget;

namespace talbo::tesk::vorta {
class SingleInstanceLock;
}

// Watches the single-instance lock: when a second start of the tool asks for it, the window comes
// to the front. Lives as a child of the window. A requester that connects but has not sent its
// request yet is watched on its own socket, so the event loop never waits for it; one that stays
// silent is dropped after a while.
class RaiseOnRequest : public QObject {
    Q_OBJECT

public:
    RaiseOnRequest(QWidget& window, talbo::tesk::vorta::SingleInstanceLock& lock);

    // Restores, raises and activates the window.
    static void BringToFront(QWidget& window);

    // How long a requester may take to send its request.
    static constexpr int kRequestTimeoutMs = 2000;

private:
    void OnConnection();
    // Reads the requester's socket; true when it is done with (answered or gone).
    bool OnRequesterReadable(int socket);

    QWidget& window;
    talbo::tesk::vorta::SingleInstanceLock& lock;
};
