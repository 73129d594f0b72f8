#include "tool/app/CCommandLine.h"

#include <chrono>
#include <thread>
#include <vector>

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
        tokens.push_back(argumentText.substr(pos, end == std::wstring_view::npos ? end : end - pos));
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

int CCommandLine::WaitForEnd(CVortaFWUpdateToolUIApp& app) const {
    for (;;) {
        const int progress = app.Model()->GetProgress(m_strHostName.c_str());
        if (progress == 100 || progress < 0) {
            return progress;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

int CCommandLine::Run(CVortaFWUpdateToolUIApp& app) {
    CUIStringTable& table = CUIStringTable::GetInstance();
    const auto log = CFilePath::GetInstance().GetPath(L"log");
    if (!app.Model()->AddDevice(m_strHostName.c_str()) ||
        !app.Controller()->StartCommunicationTest()) {
        return -100;
    }
    const int tested = WaitForEnd(app);
    if (tested < 0) {
        CResultLog::Write(log, -100, table.GetResultText(tested));
        return -100;
    }
    if (!app.ExtractAndLoadImage(CFilePath::GetInstance().GetPath(L"updateImage"))) {
        return -100;
    }
    if (!app.Controller()->StartUpdate(m_strPolicy.c_str())) {
        return -200;
    }
    const int updated = WaitForEnd(app);
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
    CResultLog::Write(log, exitCode, detail);
    return exitCode;
}

}  // namespace talbo::tesk::vorta
