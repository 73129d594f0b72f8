#include "tool/cli/CCommandLine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "common/HostName.h"
#include "common/Utf8.h"
#include "engine/interface/ResultCodes.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/CarriedVersions.h"
#include "tool/app/ExitCodes.h"
#include "tool/app/SystemInfo.h"
#include "tool/cli/CBatchRun.h"
#include "tool/cli/CConsoleStatus.h"
#include "tool/cli/CResultLog.h"
#include "tool/cli/SessionDriver.h"
#include "tool/session/CRunSession.h"
#include "tool/session/DeviceReport.h"
#include "tool/session/RunOutcome.h"

namespace talbo::tesk::vorta {

namespace {

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

void CCommandLine::Parse(const std::vector<std::wstring>& arguments) {
    const std::vector<std::wstring_view> all(arguments.begin(), arguments.end());
    // The rollout options come out first, wherever they stand; what remains is read as it
    // always was. A host name never starts with "-", so no device is taken for an option.
    std::vector<std::wstring_view> tokens;
    for (std::size_t i = 0; i < all.size();) {
        if (!all[i].starts_with(L"--")) {
            tokens.push_back(all[i++]);
            continue;
        }
        const int used = TakeRolloutOption(all, i, m_options, m_strArgumentError);
        if (used == 0) {
            m_strArgumentError = L"unknown option \"" + std::wstring(all[i]) + L"\" (see --help)";
        }
        if (used <= 0) {
            // Refused either way; the form still tells which usage the error message names.
            std::copy_if(all.begin() + static_cast<std::ptrdiff_t>(i) + 1, all.end(),
                         std::back_inserter(tokens),
                         [](std::wstring_view token) { return !token.starts_with(L"--"); });
            m_bBatch = IsBatchLine(tokens);
            return;
        }
        i += static_cast<std::size_t>(used);
    }
    m_bBatch = IsBatchLine(tokens);
    if (m_bBatch) {
        ParseBatch(tokens);
        return;
    }
    ParseSingle(tokens);
}

void CCommandLine::ParseSingle(const std::vector<std::wstring_view>& tokens) {
    // [-d] HOST or HOST -d: "-d" as the first or the second token selects "update".
    std::size_t host = 0;
    if (!tokens.empty() && tokens[0] == L"-d") {
        m_strPolicy = L"update";
        host = 1;
    } else if (tokens.size() > 1 && tokens[1] == L"-d") {
        m_strPolicy = L"update";
    }
    if (host < tokens.size()) {
        m_strHostName = tokens[host];
    }
    // Nothing may be left over: a word dropped silently would leave its device untouched
    // while the run reports success.
    const std::size_t taken = m_strPolicy == L"update" ? 2 : 1;
    if (tokens.size() > taken) {
        const std::wstring_view extra = tokens[taken];
        m_strArgumentError = L"unexpected \"" + std::wstring(extra) + L"\"";
        m_strArgumentError += extra.starts_with(L'-')
                                  ? std::wstring(
                                        L": one device takes [-d] HOST and the options of "
                                        L"--help")
                                  : std::wstring(
                                        L": one run of HOST rewrites one device; to rewrite "
                                        L"several, name them in a list file and give "
                                        L"@LIST");
        return;
    }
    if (m_strHostName.empty()) {
        m_strArgumentError = L"no host name given (see --help)";
    } else if (const std::optional<std::wstring> problem = common::HostNameProblem(m_strHostName)) {
        m_strArgumentError = *problem;  // a name the engine would refuse, or reach elsewhere
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
            m_strArgumentError = L"unexpected " + quoted +
                                 L": a batch takes @LIST, -d, -jN and the options of --help, each "
                                 L"at most once";
            return;
        }
    }
    if (m_strListFile.empty()) {
        m_strArgumentError = L"no device list file after \"@\"";
    }
}

namespace {

std::string NarrowText(const std::wstring& text) {
    return common::EncodeUtf8(text).value_or(common::AsciiToNarrow(text));
}

// Why a run was refused before any device was contacted; the exit code tells the same when
// standard error cannot take the line.
void SayRefused(const std::wstring& why) {
    static_cast<void>(std::fprintf(stderr, "VortaFWUpdateTool: %s; nothing was done\n",
                                   NarrowText(TerminalSafe(why)).c_str()));
}

void PutLine(const std::string& line) {
    static_cast<void>(std::fputs(line.c_str(), stdout));
    static_cast<void>(std::fflush(stdout));
}

}  // namespace

int CCommandLine::Run(CVortaFWUpdateToolUIApp& app) {
    if (!m_strArgumentError.empty()) {
        SayRefused(m_strArgumentError);
        return kExitTestFailed;
    }
    if (!HasUsableNetworkInterface()) {
        // Every request carries this computer's hardware address; without one no device
        // could tell the tool apart, so nobody is contacted.
        static_cast<void>(std::fputs(
            "VortaFWUpdateTool: this computer has no network interface with a hardware address; "
            "no device was contacted\n",
            stderr));
        return kExitTestFailed;
    }
    if (m_bBatch) {
        return CBatchRun(m_strListFile, m_strPolicy, m_nDevicesAtATime, m_options).Run(app);
    }
    return RunSingle(app);
}

int CCommandLine::RunSingle(CVortaFWUpdateToolUIApp& app) {
    const auto log = CFilePath::GetInstance().GetPath(L"log");
    CConsoleStatus status;
    CRunSession::SCallbacks callbacks;
    callbacks.deviceEnded = [this](const CRunSession::SDevice& device) {
        if (m_options.json) {
            PutLine(DeviceJsonLine(device.report) + "\n");
        } else if (m_options.dryRun) {
            PutLine(NarrowText(TerminalSafe(device.report.host)) + "\t" +
                    std::to_string(device.report.outcome) + "\t" +
                    NarrowText(TerminalSafe(device.report.result)) + "\n");
        }
    };
    CRunSession session({app.Model(), app.Controller(), app.Settings()},
                        CRunSession::EKind::TestAndRewrite, m_strPolicy, CarriedImageVersion(),
                        m_options, std::move(callbacks));
    bool finished = false;
    if (TakeStopSignals(app) > 0) {
        session.EndUnstarted({m_strHostName}, InterruptedOutcome());  // stopped during start-up
    } else {
        // A host name the engine refuses, or a test it cannot start: nothing was done.
        if (!app.Model()->AddDevice(m_strHostName.c_str())) {
            SayRefused(L"the engine refused the host name \"" + m_strHostName + L"\"");
            return kExitTestFailed;
        }
        if (!session.Start({m_strHostName})) {
            SayRefused(L"the communication test of " + m_strHostName + L" could not start");
            return kExitTestFailed;
        }
        status.Phase(m_strHostName, L"communication test");
        SSessionDriverHooks hooks;
        hooks.loadingImage = [this, &status] {
            status.Phase(m_strHostName, L"loading the update image");
        };
        bool rewriting = false;
        hooks.polled = [this, &app, &status, &session, &rewriting] {
            if (session.IsRewriting() && !rewriting) {
                rewriting = true;
                status.Phase(m_strHostName, L"rewriting the firmware");
            }
            const int progress = app.Model()->GetProgress(m_strHostName.c_str());
            if (!session.IsDone() && !HasEnded(progress)) {
                status.Progress(progress);
            }
        };
        finished = DriveSession(session, app, status, hooks);
    }
    const SDeviceReport& report = session.Devices().front().report;
    status.Finish(report.result);
    const int code = session.ExitCode();
    if (m_options.json) {
        SRunSummary summary = session.Summary();
        summary.stopped = summary.stopped || !finished;
        if (!finished) {
            summary.stopReason = report.result;
        } else if (session.Draining() && session.LeftDevicesNotStarted()) {
            summary.stopReason = CUIStringTable::GetInstance().GetText(L"STR-323");
        }
        PutLine(SummaryJsonLine(summary) + "\n");
    }
    WriteRequestedReport(session, m_options.reportFile);
    if (m_options.dryRun) {
        return code;  // a rehearsal leaves no record
    }
    // A rewrite's record names the image it sent, so a field report identifies the firmware.
    CResultLog::Write(log, code, report.result,
                      session.ImageSent() ? CResultLog::WithImageDigest(CarriedImageSha256())
                                          : CResultLog::ExtraKeys());
    return code;
}

}  // namespace talbo::tesk::vorta
