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
    // Splits the argument text at blanks (runs count as one); quotation marks mean nothing.
    // Tokens starting with "--" are rollout options (TakeRolloutOption), taken out first with
    // their values wherever they stand; an unknown or invalid one makes the arguments invalid.
    // A batch when a token starting with "@" comes before any token other than "-d" and "-j…"
    // among the first three: then "@LIST", "-d" and "-jN" (N a plain decimal 1 to 64) may come
    // in any order, each at most once, and anything else makes the arguments invalid
    // (GetArgumentError). Otherwise one device: "-d" as the first or the second token selects
    // the policy "update", else "skip"; the other of the two is the host name; further tokens
    // are ignored. A host name never starts with "@", so no single-device use reads as a batch.
    void Parse(std::wstring_view argumentText);

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
