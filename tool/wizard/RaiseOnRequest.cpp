#include "tool/wizard/RaiseOnRequest.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include "tool/app/SingleInstanceLock.h"

namespace tv = talbo::tesk::vorta;

RaiseOnRequest::RaiseOnRequest(QWidget& window, tv::SingleInstanceLock& lock)
    : QObject(&window), window(window), lock(lock) {
    if (lock.ListenSocket() < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(lock.ListenSocket(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &RaiseOnRequest::OnConnection);
}

void RaiseOnRequest::OnConnection() {
    const int socket = lock.AcceptRequester();
    if (socket < 0) {
        return;
    }
    if (OnRequesterReadable(socket)) {
        ::close(socket);
        return;
    }
    // The request has not arrived yet: watch this requester's socket; the notifier owns it.
    auto* notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(notifier, &QObject::destroyed, [socket] { ::close(socket); });
    const auto finish = [notifier] {
        notifier->setEnabled(false);
        notifier->deleteLater();
    };
    connect(notifier, &QSocketNotifier::activated, this, [this, socket, finish] {
        if (OnRequesterReadable(socket)) {
            finish();
        }
    });
    QTimer::singleShot(kRequestTimeoutMs, notifier, finish);
}

bool RaiseOnRequest::OnRequesterReadable(int socket) {
    switch (tv::SingleInstanceLock::ReadRequest(socket)) {
        case tv::SingleInstanceLock::Request::Raise:
            BringToFront(window);
            break;
        case tv::SingleInstanceLock::Request::Pending:
            return false;
        case tv::SingleInstanceLock::Request::Closed:
            break;
    }
    return true;
}

void RaiseOnRequest::BringToFront(QWidget& window) {
    window.showNormal();
    window.raise();
    window.activateWindow();
}
