#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tool/app/RunOutcome.h"

namespace talbo::tesk::vorta {

class CConsoleStatus;
class CVortaFWUpdateToolUIApp;

// The command line's batch: every device of a list file is tested, the image is loaded once
// and the devices that passed are rewritten, as many at a time as the engine's setting says.
// Each device ends as a run of its own would end it (RunOutcome) and gets one line
// "host<TAB>exit code<TAB>result text" on the output as it ends. The run writes one log
// section (the most severe code with its text, and one key per device), names the log file in
// a last line on standard error ("VortaFWUpdateTool: result log: PATH") and returns that code.
// A list the engine's import refuses, or a devices-at-a-time value the engine refuses, ends the
// run with kExitTestFailed and one line on standard error, before any device is contacted and
// without a log record. Stop signals act as for one device: one ends the test or the image
// load, two end the rewrite (the first only warns); devices not yet ended end interrupted.
// Everything runs on the main thread; the engine works on its own threads and is polled.
class CBatchRun {
public:
    // devicesAtATime 0 leaves the engine's setting. The device lines go to out (not owned).
    CBatchRun(std::wstring listFile, std::wstring policy, int devicesAtATime,
              std::FILE* out = stdout);

    int Run(CVortaFWUpdateToolUIApp& app);

private:
    struct SDevice {
        std::wstring host;
        bool passedTest = false;
        std::optional<SRunOutcome> outcome;
    };
    enum class EPhase { Test, Rewrite };

    // Reads the list, sets the devices at a time and registers the devices; false (with the
    // line on standard error) when any of it is refused.
    bool Prepare(CVortaFWUpdateToolUIApp& app);
    // Polls the devices still in the phase until they have ended it and the engine's job has
    // ended; false when stop signals ended the wait.
    bool WaitForPhase(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status, EPhase phase);
    // Makes only the devices that passed their test targets of the rewrite (the test job has
    // ended); false when the engine does not take the change.
    bool TargetPassedDevices(CVortaFWUpdateToolUIApp& app);
    void End(SDevice& device, SRunOutcome outcome, CConsoleStatus& status);
    // Ends every device that has no outcome yet with this one.
    void EndRemaining(const SRunOutcome& outcome, CConsoleStatus& status);
    void DrawSummary(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status) const;
    // Writes the log section and returns the most severe code.
    int Finish(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status);
    bool AnyPassed() const;

    std::wstring m_strListFile;
    std::wstring m_strPolicy;
    int m_nDevicesAtATime;
    std::FILE* m_pOut;
    std::vector<SDevice> m_devices;
    std::chrono::steady_clock::time_point m_start;
    bool m_bRewriteStarted = false;  // the image went to the devices
};

}  // namespace talbo::tesk::vorta
