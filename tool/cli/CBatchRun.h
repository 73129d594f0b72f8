#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tool/session/CRunSession.h"
#include "tool/session/RolloutOptions.h"

namespace talbo::tesk::vorta {

class CConsoleStatus;
class CVortaFWUpdateToolUIApp;

// The command line's batch: a run session over every device of a list file. Every device is
// tested, the image is loaded once and the devices that passed are rewritten, as many at a
// time as the engine's setting says, in waves and under the stop rule when they are asked for.
// Each device ends as a run of its own would end it (RunOutcome) and gets one line
// "host<TAB>exit code<TAB>result text" on the output as it ends (with --json one JSON object
// instead, and a summary object last). The run writes one log section (the most severe code
// with its text, or the stop when the stop rule fired, and one key per device), writes the CSV
// report when asked, names the log file in a last line on standard error
// ("VortaFWUpdateTool: result log: PATH") and returns that code. A dry run writes no log.
// The list is read as ReadOperatorDeviceList reads it (byte order mark, blanks, numeric
// spellings). A list it refuses, or a devices-at-a-time value the engine refuses, ends the run
// with kExitTestFailed and one line on standard error (naming the line and why), before any
// device is contacted and without a log record. A later spelling of a device the list has
// already named (HostKey) is dropped with a notice on standard error naming both lines. Stop
// signals act as for one device (SessionDriver).
class CBatchRun {
public:
    // devicesAtATime 0 leaves the engine's setting. The device lines go to out (not owned).
    CBatchRun(std::wstring listFile, std::wstring policy, int devicesAtATime,
              SRolloutOptions options = {}, std::FILE* out = stdout);

    int Run(CVortaFWUpdateToolUIApp& app);

private:
    // Reads the list, sets the devices at a time and registers the devices; false (with the
    // line on standard error) when any of it is refused.
    bool Prepare(CVortaFWUpdateToolUIApp& app);
    void DeviceEnded(const CRunSession::SDevice& device, CConsoleStatus& status);
    void DrawSummary(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status) const;
    // Writes the log section, the report and the summary; returns the most severe code.
    int Finish(CConsoleStatus& status, bool interrupted);

    std::wstring m_strListFile;
    std::wstring m_strPolicy;
    int m_nDevicesAtATime;
    SRolloutOptions m_options;
    std::FILE* m_pOut;
    std::vector<std::wstring> m_hosts;
    std::optional<CRunSession> m_session;
    std::chrono::steady_clock::time_point m_start;
};

// The line that says the stop rule ended a rollout at its limit of counted failures (devices
// already started may fail after it; the summary counts those).
std::wstring RolloutStoppedText(int failures);

}  // namespace talbo::tesk::vorta
