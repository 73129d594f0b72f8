#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/interface/CUpdateSettingsExport.h"
#include "tool/session/RolloutOptions.h"

namespace talbo::tesk::vorta {

class CConsoleStatus;

class CVortaFWUpdateToolUIApp;

// The command-line mode: rewrite one device, or a batch of devices named by a list file, and
// report by exit code and result log.
class CCommandLine {
public:
    // Takes the arguments exactly as given (no joining, no splitting at blanks). Arguments
    // starting with "--" are rollout options (TakeRolloutOption), taken out first with their
    // values wherever they stand; an unknown or invalid one makes the arguments invalid.
    // A batch when an argument starting with "@" comes before any other than "-d" and "-j…"
    // among the first three: then "@LIST", "-d" and "-jN" (N a plain decimal 1 to 64) may come
    // in any order, each at most once, and anything else makes the arguments invalid
    // (GetArgumentError). Otherwise one device: [-d] HOST or HOST -d ("-d" selects the policy
    // "update", else "skip"); a missing host name or any further argument makes the arguments
    // invalid, so that no device named is silently left out. A host name never starts with
    // "@", so no single-device use reads as a batch.
    void Parse(const std::vector<std::wstring>& arguments);

    // Invalid arguments: kExitTestFailed and a line on standard error, nothing done. A batch
    // runs CBatchRun. One device: a run session of one, tested and then rewritten; returns the
    // exit code and logs the outcome (a dry run logs nothing). A stop
    // signal before the rewrite starts, or a second one during it, ends the run with
    // kExitRewriteFailed and the "STR-301" record; teardown then stops the engine's job. The
    // first signal during the rewrite only warns: stopping would leave the device mid-update.
    int Run(CVortaFWUpdateToolUIApp& app);

    const std::wstring& GetPolicy() const { return m_strPolicy; }
    const std::wstring& GetHostName() const { return m_strHostName; }
    bool IsBatch() const { return m_bBatch; }
    // The batch's list file (the "@" token without its "@").
    const std::wstring& GetListFile() const { return m_strListFile; }
    // The batch's devices at a time; 0 when not given (the engine's setting stays).
    int GetDevicesAtATime() const { return m_nDevicesAtATime; }
    // Why the arguments are invalid; empty when they are valid.
    const std::wstring& GetArgumentError() const { return m_strArgumentError; }

    // The rollout options of either form (RolloutOptions).
    const SRolloutOptions& GetOptions() const { return m_options; }

private:
    // One device as a run session of one: tested, then rewritten.
    int RunSingle(CVortaFWUpdateToolUIApp& app);
    void ParseSingle(const std::vector<std::wstring_view>& tokens);
    void ParseBatch(const std::vector<std::wstring_view>& tokens);

    std::wstring m_strPolicy = L"skip";
    std::wstring m_strHostName;
    bool m_bBatch = false;
    std::wstring m_strListFile;
    int m_nDevicesAtATime = 0;
    SRolloutOptions m_options;
    std::wstring m_strArgumentError;
};

}  // namespace talbo::tesk::vorta
