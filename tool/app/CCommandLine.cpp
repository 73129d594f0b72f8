#include "tool/app/CCommandLine.h"

#include <chrono>
#include <vector>

#include "tool/app/CConsoleStatus.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CResultLog.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/ExitCodes.h"
#include "tool/app/StopSignals.h"

namespace talbo::tesk::vorta {

void CCommandLine::Parse(std::wstring_view argumentText) {
    std::vector<std::wstring_view> tokens;
    std::size_t pos = 0;
    while (tokens.size() < 2) {
        pos = argumentText.find_first_not_of(L' ', pos);
        if (pos == std::wstring_view::npos) {
            break;
        }
        const std::size_t end = argumentText.find(L' ', pos);
        tokens.push_back(
            argumentText.substr(pos, end == std::wstring_view::npos ? end : end - pos));
        pos = end;
    }
    const std::wstring_view t1 = tokens.empty() ? std::wstring_view() : tokens[0];
    const std::wstring_view t2 = tokens.size() < 2 ? std::wstring_view() : tokens[1];
    if (t1 == L"-d") {
        m_strPolicy = L"update";
        m_strHostName = t2;
    } else if (t2 == L"-d") {
        m_strPolicy = L"update";
        m_strHostName = t1;
    } else {
        m_strPolicy = L"skip";
        m_strHostName = t1;
    }
}

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(250);

}  // namespace

int CCommandLine::TakeSignals(CVortaFWUpdateToolUIApp& app) {
    StopSignals* signals = app.Signals();
    return signals != nullptr ? signals->Take() : 0;
}

std::optional<int> CCommandLine::WaitForEnd(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status,
                                            bool rewriting) const {
    StopSignals* signals = app.Signals();
    int caught = 0;
    for (;;) {
        const int progress = app.Model()->GetProgress(m_strHostName.c_str());
        if (progress == 100 || progress < 0) {
            return progress;
        }
        status.Progress(progress);
        const int before = caught;
        caught += signals != nullptr ? signals->Wait(kPollInterval) : 0;
        if (caught > 0 && !rewriting) {
            return std::nullopt;
        }
        if (caught >= 2) {
            return std::nullopt;
        }
        if (caught == 1 && before == 0) {
            // Stopping now would leave the device between two firmware parts; it recovers only
            // through another rewrite, so the operator decides.
            status.Notice(L"VortaFWUpdateTool: " + m_strHostName +
                          L" is in the middle of its update. Send the signal again (Ctrl-C) to "
                          L"stop anyway; a later run resumes the device.");
        }
    }
}

int CCommandLine::Interrupted(CConsoleStatus& status) const {
    const std::wstring detail = CUIStringTable::GetInstance().GetText(L"STR-301");
    status.Finish(detail);
    CResultLog::Write(CFilePath::GetInstance().GetPath(L"log"), kExitRewriteFailed, detail);
    return kExitRewriteFailed;
}

int CCommandLine::Run(CVortaFWUpdateToolUIApp& app) {
    CUIStringTable& table = CUIStringTable::GetInstance();
    const auto log = CFilePath::GetInstance().GetPath(L"log");
    CConsoleStatus status;
    if (TakeSignals(app) > 0) {
        return Interrupted(status);  // stopped during start-up
    }
    if (!app.Model()->AddDevice(m_strHostName.c_str()) ||
        !app.Controller()->StartCommunicationTest()) {
        return kExitTestFailed;
    }
    status.Phase(m_strHostName, L"communication test");
    const std::optional<int> tested = WaitForEnd(app, status, false);
    if (!tested) {
        return Interrupted(status);
    }
    if (*tested < 0) {
        const std::wstring detail = table.GetResultText(*tested);
        status.Finish(detail);
        CResultLog::Write(log, kExitTestFailed, detail);
        return kExitTestFailed;
    }
    status.Phase(m_strHostName, L"loading the update image");
    const bool loaded = app.ExtractAndLoadImage(CFilePath::GetInstance().GetPath(L"updateImage"));
    if (TakeSignals(app) > 0) {
        return Interrupted(status);  // caught while the image loaded
    }
    if (!loaded) {
        status.Finish(L"the update image could not be loaded");
        return kExitTestFailed;
    }
    if (!app.Controller()->StartUpdate(m_strPolicy.c_str())) {
        status.Finish(L"the rewrite could not start");
        return kExitRewriteFailed;
    }
    status.Phase(m_strHostName, L"rewriting the firmware");
    const std::optional<int> updated = WaitForEnd(app, status, true);
    if (!updated) {
        return Interrupted(status);
    }
    int exitCode = kExitRewriteFailed;
    std::wstring detail;
    switch (*updated) {
        case 100:
            exitCode = kExitRewritten;
            detail = table.GetText(L"STR-001");
            break;
        case -2:
            exitCode = kExitSameVersion;
            detail = table.GetText(L"STR-002");
            break;
        case -16:
            exitCode = kExitNewerSkipped;
            detail = table.GetText(L"STR-003");
            break;
        default:
            detail = table.GetResultText(*updated);
            break;
    }
    status.Finish(detail);
    CResultLog::Write(log, exitCode, detail);
    return exitCode;
}

}  // namespace talbo::tesk::vorta
