#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talbo::tesk::vorta {

class CConsoleStatus;
class CVortaFWUpdateToolUIApp;

// The command-line mode: rewrite one device and report by exit code and result log.
class CCommandLine {
public:
    // Splits the argument text at blanks (runs count as one); "-d" as the first or the second
    // token selects the policy "update", otherwise "skip". Quotation marks mean nothing.
    void Parse(std::wstring_view argumentText);

    // Tests and then rewrites the one device; returns the exit code and logs the outcome. A stop
    // signal before the rewrite starts, or a second one during it, ends the run with
    // kExitRewriteFailed and the "STR-301" record; teardown then stops the engine's job. The
    // first signal during the rewrite only warns: stopping would leave the device mid-update.
    int Run(CVortaFWUpdateToolUIApp& app);

    const std::wstring& GetPolicy() const { return m_strPolicy; }
    const std::wstring& GetHostName() const { return m_strHostName; }

private:
    // Polls the device's progress until it ends (100 or negative) and returns that value;
    // nullopt when stop signals end the wait (the first one already, unless rewriting).
    std::optional<int> WaitForEnd(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status,
                                  bool rewriting) const;
    // Logs and reports an interrupted run; returns its exit code.
    int Interrupted(CConsoleStatus& status) const;
    static int TakeSignals(CVortaFWUpdateToolUIApp& app);

    std::wstring m_strPolicy = L"skip";
    std::wstring m_strHostName;
};

}  // namespace talbo::tesk::vorta
