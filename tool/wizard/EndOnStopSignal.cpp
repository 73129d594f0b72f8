#include "tool/wizard/EndOnStopSignal.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QSocketNotifier>

#include "tool/cli/StopSignals.h"

namespace tv = talbo::tesk::vorta;

EndOnStopSignal::EndOnStopSignal(QDialog& wizard, tv::StopSignals& stopSignals,
                                 std::function<bool()> drainAndClose)
    : QObject(&wizard),
      wizard(wizard),
      stopSignals(stopSignals),
      drainAndClose(std::move(drainAndClose)) {
    if (stopSignals.ReadFd() < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(stopSignals.ReadFd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &EndOnStopSignal::OnSignal);
}

void EndOnStopSignal::OnSignal() {
    const int taken = stopSignals.Take();
    if (taken == 0) {
        return;
    }
    caught += taken;
    if (caught == 1 && drainAndClose && drainAndClose()) {
        return;  // the devices in progress finish; the wizard ends itself after them
    }
    // Boxes and dialogs above the wizard first: each runs its own loop inside the wizard's, and
    // the code waiting on it must return before the wizard's loop can end. done() bypasses the
    // wizard's refusal to close while the engine works.
    QList<QPointer<QDialog>> others;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog != nullptr && dialog != &wizard && dialog->isVisible()) {
            others.append(dialog);
        }
    }
    for (const QPointer<QDialog>& dialog : others) {
        if (dialog) {
            dialog->done(QDialog::Rejected);
        }
    }
    wizard.done(QDialog::Rejected);
}
