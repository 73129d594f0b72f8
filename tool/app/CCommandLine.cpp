#include "tool/app/CCommandLine.h"

#include <chrono>
#include <thread>
#include <vector>

#include "tool/app/CConsoleStatus.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CResultLog.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"

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
}

int CCommandLine::WaitForEnd(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status) const {
    for (;;) {
        const int progress = app.Model()->GetProgress(m_strHostName.c_str());
        if (progress == 100 || progress < 0) {
            return progress;
        }
        status.Progress(progress);
        std::this_thread::sleep_for(kPollInterval);
    }
}

int CCommandLine::Run(CVortaFWUpdateToolUIApp& app) {
    CUIStringTable& table = CUIStringTable::GetInstance();
    const auto log = CFilePath::GetInstance().GetPath(L"log");
    CConsoleStatus status;
    if (!app.Model()->AddDevice(m_strHostName.c_str()) ||
        !app.Controller()->StartCommunicationTest()) {
        return -100;
    }
    status.Phase(m_strHostName, L"communication test");
    const int tested = WaitForEnd(app, status);
    if (tested < 0) {
        const std::wstring detail = table.GetResultText(tested);
        status.Finish(detail);
        CResultLog::Write(log, -100, detail);
        return -100;
    }
    status.Phase(m_strHostName, L"loading the update image");
    if (!app.ExtractAndLoadImage(CFilePath::GetInstance().GetPath(L"updateImage"))) {
        status.Finish(L"the update image could not be loaded");
        return -100;
    }
    if (!app.Controller()->StartUpdate(m_strPolicy.c_str())) {
        status.Finish(L"the rewrite could not start");
        return -200;
    }
    status.Phase(m_strHostName, L"rewriting the firmware");
    const int updated = WaitForEnd(app, status);
    int exitCode = -200;
    std::wstring detail;
    switch (updated) {
        case 100:
            exitCode = 0;
            detail = table.GetText(L"STR-001");
            break;
        case -2:
            exitCode = 1;
            detail = table.GetText(L"STR-002");
            break;
        case -16:
            exitCode = 2;
            detail = table.GetText(L"STR-003");
            break;
        default:
            detail = table.GetResultText(updated);
            break;
    }
    status.Finish(detail);
    CResultLog::Write(log, exitCode, detail);
    return exitCode;
}

}  // namespace talbo::tesk::vorta
