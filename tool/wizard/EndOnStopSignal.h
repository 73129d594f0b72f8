#pragma once

#include <QObject>

class QDialog;

namespace talbo::tesk::vorta {
class StopSignals;
}

// Ends the wizard when the session ends or the tool is told to stop (SIGTERM, SIGHUP, SIGINT):
// open message boxes and dialogs close and the wizard's loop ends, even while a job runs and the
// wizard refuses Cancel and Close. Teardown then unloads the engine, which stops the job, and
// removes the temporary folder. Lives as a child of the wizard.
class EndOnStopSignal : public QObject {
    Q_OBJECT

public:
    EndOnStopSignal(QDialog& wizard, talbo::tesk::vorta::StopSignals& stopSignals);

private:
    void OnSignal();

    QDialog& wizard;
    talbo::tesk::vorta::StopSignals& stopSignals;
};
