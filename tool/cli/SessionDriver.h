#pragma once
// The command line's loop around a run session: polls it every 250 ms on the main thread,
// loads the carried image when the session asks for it, and turns stop signals into the
// command line's rule: one signal ends a test or an image load, during a rewrite the first only
// warns (stopping would leave devices between two firmware parts) and the second ends the run.

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
    // The warning shown at the first signal during a rewrite.
    std::wstring rewriteWarning;
};

// Runs the session to its end; false when stop signals ended it first (every device not yet
// ended then ends interrupted).
bool DriveSession(CRunSession& session, CVortaFWUpdateToolUIApp& app, CConsoleStatus& status,
                  const SSessionDriverHooks& hooks);

// Writes the session's CSV report to file when one was asked for (file not empty); a failure is
// one line on standard error, and the run's outcome stays as it is.
void WriteRequestedReport(const CRunSession& session, const std::wstring& file);

// Stop signals caught so far and not yet taken (0 without signal handling).
int TakeStopSignals(CVortaFWUpdateToolUIApp& app);

}  // namespace talbo::tesk::vorta
