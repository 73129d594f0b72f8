#include "tool/wizard/RaiseOnRequest.h"

#include <QSocketNotifier>
#include <QWidget>

#include "tool/app/SingleInstanceLock.h"

RaiseOnRequest::RaiseOnRequest(QWidget& window, talbo::tesk::vorta::SingleInstanceLock& lock)
    : QObject(&window), window(window), lock(lock) {
    if (lock.ListenSocket() < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(lock.ListenSocket(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &RaiseOnRequest::OnRequest);
}

void RaiseOnRequest::OnRequest() {
    if (lock.AcceptRaiseRequest()) {
        BringToFront(window);
    }
}

void RaiseOnRequest::BringToFront(QWidget& window) {
    window.showNormal();
    window.raise();
    window.activateWindow();
}
