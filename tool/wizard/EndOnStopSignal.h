#pragma once

#include <QObject>

#include <functional>

class QDialog;

namespace talbo::tesk::vorta {
class StopSignals;
}

// Ends the wizard when the session ends or the tool is told to stop (SIGTERM, SIGHUP, SIGINT).
// During a rewrite the first signal drains instead (drainAndClose): no further device starts,
// the devices in progress finish and the wizard then ends itself. Otherwise, and at a second
// signal, open message boxes and dialogs close and the wizard's loop ends at once, even while a
// job runs and the wizard refuses Cancel and Close; teardown then unloads the engine, which
// stops the job, and removes the temporary folder. Lives as a child of the wizard.
class EndOnStopSignal : public QObject {
    Q_OBJECT

public:
    // drainAndClose: true when it started a drain that ends the wizard by itself.
    EndOnStopSignal(QDialog& wizard, talbo::tesk::vorta::StopSignals& stopSignals,
                    std::function<bool()> drainAndClose = {});

private:
    void OnSignal();

    QDialog& wizard;
    talbo::tesk::vorta::StopSignals& stopSignals;
    std::function<bool()> drainAndClose;
    int caught = 0;
};
