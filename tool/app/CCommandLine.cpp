#include "tool/app/CCommandLine.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "common/Utf8.h"
#include "engine/interface/ResultCodes.h"
#include "tool/app/CBatchRun.h"
#include "tool/app/CConsoleStatus.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CResultLog.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/ExitCodes.h"
#include "tool/app/RunOutcome.h"
#include "tool/app/StopSignals.h"
#include "tool/app/SystemInfo.h"

namespace talbo::tesk::vorta {

namespace {

std::vector<std::wstring_view> SplitAtBlanks(std::wstring_view text) {
    std::vector<std::wstring_view> tokens;
    std::size_t pos = 0;
    for (;;) {
        pos = text.find_first_not_of(L' ', pos);
        if (pos == std::wstring_view::npos) {
            return tokens;
        }
        const std::size_t end = text.find(L' ', pos);
        tokens.push_back(text.substr(pos, end == std::wstring_view::npos ? end : end - pos));
        pos = end;
    }
}

bool IsDevicesAtATimeToken(std::wstring_view token) {
    return token.starts_with(L"-j");
}

// Whether an "@" token comes before anything that the single-device grammar would take as the
// host name, among the three tokens a batch may have.
bool IsBatchLine(const std::vector<std::wstring_view>& tokens) {
    for (std::size_t i = 0; i < tokens.size() && i < 3; ++i) {
        if (tokens[i].starts_with(L'@')) {
            return true;
        }
        if (tokens[i] != L"-d" && !IsDevicesAtATimeToken(tokens[i])) {
            return false;
        }
    }
    return false;
}

// The value of "-jN": a plain decimal 1 to 64 without sign or leading zeros; 0 when invalid.
int DevicesAtATimeOf(std::wstring_view token) {
    const std::wstring_view digits = token.substr(2);
    if (digits.empty() || digits.size() > 2 || digits.front() == L'0') {
        return 0;
    }
    int value = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return 0;
        }
        value = value * 10 + (c - L'0');
    }
    return value <= kMaxDevicesAtATime ? value : 0;
}

}  // namespace

void CCommandLine::Parse(std::wstring_view argumentText) {
    const std::vector<std::wstring_view> tokens = SplitAtBlanks(argumentText);
    m_bBatch = IsBatchLine(tokens);
    if (m_bBatch) {
        ParseBatch(tokens);
        return;
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

void CCommandLine::ParseBatch(const std::vector<std::wstring_view>& tokens) {
    bool haveList = false;
    bool haveDevicesAtATime = false;
    for (const std::wstring_view token : tokens) {
        const std::wstring quoted = L"\"" + std::wstring(token) + L"\"";
        if (token.starts_with(L'@') && !haveList) {
            haveList = true;
            m_strListFile = token.substr(1);
        } else if (token == L"-d" && m_strPolicy != L"update") {
            m_strPolicy = L"update";
        } else if (IsDevicesAtATimeToken(token) && !haveDevicesAtATime) {
            haveDevicesAtATime = true;
            m_nDevicesAtATime = DevicesAtATimeOf(token);
            if (m_nDevicesAtATime == 0) {
                m_strArgumentError = L"invalid " + quoted + L": give -j and a number from 1 to " +
                                     std::to_wstring(kMaxDevicesAtATime) + L", as in -j8";
                return;
            }
        } else {
            m_strArgumentError =
                L"unexpected " + quoted + L": a batch takes @LIST, -d and -jN, each at most once";
            return;
        }
    }
    if (m_strListFile.empty()) {
        m_strArgumentError = L"no device list file after \"@\"";
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
        // The device's end is final at once, but the job gives the engine back a moment later:
        // the next start must not come before that.
        if (HasEnded(progress) && app.JobEnded()) {
            return progress;
        }
        if (!HasEnded(progress)) {
            status.Progress(progress);
        }
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
    const SRunOutcome outcome = InterruptedOutcome();
    status.Finish(outcome.detail);
    CResultLog::Write(CFilePath::GetInstance().GetPath(L"log"), outcome.exitCode, outcome.detail);
    return outcome.exitCode;
}

int CCommandLine::Run(CVortaFWUpdateToolUIApp& app) {
    if (!HasUsableNetworkInterface() && (!m_bBatch || m_strArgumentError.empty())) {
        // Every request carries this computer's hardware address; without one no device
        // could tell the tool apart, so nobody is contacted.
        static_cast<void>(std::fputs(
            "VortaFWUpdateTool: this computer has no network interface with a hardware address; "
            "no device was contacted\n",
            stderr));
        return kExitTestFailed;
    }
    if (m_bBatch) {
        if (!m_strArgumentError.empty()) {
            // The exit code tells the same when standard error cannot take the line.
            static_cast<void>(std::fprintf(stderr, "VortaFWUpdateTool: %s; nothing was done\n",
                                           common::EncodeUtf8(m_strArgumentError)
                                               .value_or(common::AsciiToNarrow(m_strArgumentError))
                                               .c_str()));
            return kExitTestFailed;
        }
        return CBatchRun(m_strListFile, m_strPolicy, m_nDevicesAtATime).Run(app);
    }
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
        const SRunOutcome outcome = TestFailedOutcome(*tested);
        status.Finish(outcome.detail);
        CResultLog::Write(log, outcome.exitCode, outcome.detail);
        return outcome.exitCode;
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
    const SRunOutcome outcome = RewriteOutcome(*updated);
    status.Finish(outcome.detail);
    // A rewrite's record names the image it sent, so a field report identifies the firmware.
    CResultLog::Write(log, outcome.exitCode, outcome.detail,
                      CResultLog::WithImageDigest(CarriedImageSha256()));
    return outcome.exitCode;
}

}  // namespace talbo::tesk::vorta
