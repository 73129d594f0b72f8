#pragma once
// The command line's loop around a run session: polls it every 250 ms on the main thread,
// loads the carried image when the session asks for it, and turns stop signals (SIGINT,
// SIGTERM, SIGHUP) into the command line's rule:
// - before any image went to a device (the tests, the image load), one signal ends the run at
//   once: nothing was sent, so nothing is cut;
// - once a rewrite has begun, the first signal drains: no further device starts, the devices in
//   progress finish, the run then ends by itself with every device never started "not started"
//   and full records; a notice on standard error says so at once;
// - a second signal ends the run now, leaving the devices in progress unfinished (a later run
//   resumes them).

#include <functional>
#include <string>

namespace talbo::tesk::vorta {

class CConsoleStatus;
class CRunSession;
class CVortaFWUpdateToolUIApp;

struct SSessionDriverHooks {
    // After every poll (the status line).
    std::function<void()> polled;
    // Before the image is loaded.
    std::function<void()> loadingImage;
};

// Runs the session to its end; false when stop signals ended it before it could end by itself
// (every device not yet ended then ends interrupted). A drained session ends by itself: true.
bool DriveSession(CRunSession& session, CVortaFWUpdateToolUIApp& app, CConsoleStatus& status,
                  const SSessionDriverHooks& hooks);

// The notice the first stop signal of a rewrite prints: what happens now, with the number of
// devices in progress.
std::wstring DrainNotice(int devicesInProgress);

// Writes the session's CSV report to file when one was asked for (file not empty); a failure is
// one line on standard error, and the run's outcome stays as it is.
void WriteRequestedReport(const CRunSession& session, const std::wstring& file);

// Stop signals caught so far and not yet taken (0 without signal handling).
int TakeStopSignals(CVortaFWUpdateToolUIApp& app);

}  // namespace talbo::tesk::vorta
