#include "tool/cli/CBatchRun.h"

#include <cstring>
#include <unordered_map>

#include "common/DeviceListFile.h"
#include "common/HostName.h"
#include "common/Utf8.h"
#include "engine/interface/CUpdateModelExport.h"
#include "engine/interface/CUpdateSettingsExport.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/CarriedVersions.h"
#include "tool/app/ExitCodes.h"
#include "tool/cli/CConsoleStatus.h"
#include "tool/cli/CResultLog.h"
#include "tool/cli/SessionDriver.h"
#include "tool/session/DeviceReport.h"

namespace talbo::tesk::vorta {

namespace {

using Clock = std::chrono::steady_clock;

std::string Narrow(const std::wstring& text) {
    return common::EncodeUtf8(text).value_or(common::AsciiToNarrow(text));
}

// Lines on the standard streams are a copy for the operator and fleet scripts: when a stream
// cannot take one there is nowhere else to say so, and every device's result still goes to the
// result log and the exit code.
void Put(std::FILE* stream, const std::string& line) {
    static_cast<void>(std::fputs(line.c_str(), stream));
    static_cast<void>(std::fflush(stream));
}

void SayOnStandardError(const std::string& text) {
    Put(stderr, "VortaFWUpdateTool: " + text + "\n");
}

// The list's names with every later spelling of a device already named left out, each with a
// notice that names both lines: one device must never be rewritten by two workers at once.
std::vector<std::wstring> FirstSpellings(const std::string& listName,
                                         const std::vector<common::NumberedName>& names) {
    std::vector<std::wstring> kept;
    std::unordered_map<std::wstring, const common::NumberedName*> firstByKey;
    for (const common::NumberedName& entry : names) {
        const auto [first, added] = firstByKey.try_emplace(common::HostKey(entry.name), &entry);
        if (added) {
            kept.push_back(entry.name);
            continue;
        }
        SayOnStandardError(listName + " line " + std::to_string(entry.line) + ": " +
                           Narrow(entry.name) + " names the same device as line " +
                           std::to_string(first->second->line) + " (" +
                           Narrow(first->second->name) + "); dropped");
    }
    return kept;
}

}  // namespace

std::wstring RolloutStoppedText(int failures) {
    std::wstring text = CUIStringTable::GetInstance().GetText(L"STR-320");
    if (const std::size_t at = text.find(L"%1"); at != std::wstring::npos) {
        text.replace(at, 2, std::to_wstring(failures));
    }
    return text;
}

CBatchRun::CBatchRun(std::wstring listFile, std::wstring policy, int devicesAtATime,
                     SRolloutOptions options, std::FILE* out)
    : m_strListFile(std::move(listFile)),
      m_strPolicy(std::move(policy)),
      m_nDevicesAtATime(devicesAtATime),
      m_options(std::move(options)),
      m_pOut(out) {}

bool CBatchRun::Prepare(CVortaFWUpdateToolUIApp& app) {
    const std::string listName = Narrow(m_strListFile);
    const common::OperatorDeviceList list = common::ReadOperatorDeviceList(listName);
    if (list.readError != 0) {
        SayOnStandardError("cannot read the device list " + listName + " (" +
                           std::strerror(list.readError) + "); nothing was done");
        return false;
    }
    if (list.badLine != 0) {
        SayOnStandardError(listName + " line " + std::to_string(list.badLine) + ": " +
                           Narrow(list.problem) + "; nothing was done");
        return false;
    }
    if (list.names.empty()) {
        SayOnStandardError("the device list " + listName + " names no device; nothing was done");
        return false;
    }
    const std::vector<std::wstring> hosts = FirstSpellings(listName, list.names);
    CUpdateSettingsExport* settings = app.Settings();
    if (m_nDevicesAtATime > 0 &&
        (settings == nullptr || !settings->SetDevicesAtATime(m_nDevicesAtATime))) {
        SayOnStandardError("the engine refused " + std::to_string(m_nDevicesAtATime) +
                           " devices at a time; nothing was done");
        return false;
    }
    CUpdateModelExport* model = app.Model();
    for (const std::wstring& host : hosts) {
        if (!model->AddDevice(host.c_str())) {
            SayOnStandardError("the engine refused the device " + Narrow(host) + " of " + listName +
                               "; nothing was done");
            return false;
        }
    }
    for (CHostNameIterator it = model->GetHostNameIterator(); it.Current() != nullptr; it.Next()) {
        m_hosts.emplace_back(it.Current());
    }
    return !m_hosts.empty();
}

int CBatchRun::Run(CVortaFWUpdateToolUIApp& app) {
    m_start = Clock::now();
    if (!Prepare(app)) {
        return kExitTestFailed;
    }
    CConsoleStatus status;
    CRunSession::SCallbacks callbacks;
    callbacks.deviceEnded = [this, &status](const CRunSession::SDevice& device) {
        DeviceEnded(device, status);
    };
    m_session.emplace(CRunSession::SEngine{app.Model(), app.Controller(), app.Settings()},
                      CRunSession::EKind::TestAndRewrite, m_strPolicy, CarriedImageVersion(),
                      m_options, std::move(callbacks));
    if (TakeStopSignals(app) > 0) {
        // Stopped during start-up: every device ends interrupted, none is contacted.
        m_session->EndUnstarted(m_hosts, InterruptedOutcome());
        return Finish(status, true);
    }
    if (!m_session->Start(m_hosts)) {
        return Finish(status, false);
    }
    SSessionDriverHooks hooks;
    hooks.polled = [this, &app, &status] { DrawSummary(app, status); };
    const bool finished = DriveSession(*m_session, app, status, hooks);
    return Finish(status, !finished);
}

void CBatchRun::DeviceEnded(const CRunSession::SDevice& device, CConsoleStatus& status) {
    status.Clear();  // the device line may share the terminal with the status line
    const SDeviceReport& report = device.report;
    if (m_options.json) {
        Put(m_pOut, DeviceJsonLine(report) + "\n");
        return;
    }
    std::wstring detail = report.result;
    if (m_options.dryRun && report.wave) {
        detail += L" (wave " + std::to_wstring(*report.wave) + L")";
    }
    // What a device reports reaches the terminal escaped, never as raw control characters.
    Put(m_pOut, Narrow(TerminalSafe(report.host)) + "\t" + std::to_string(report.outcome) + "\t" +
                    Narrow(TerminalSafe(detail)) + "\n");
}

void CBatchRun::DrawSummary(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status) const {
    if (!status.Enabled() || !m_session) {
        return;
    }
    std::size_t done = 0;
    std::size_t failed = 0;
    std::size_t restarting = 0;
    for (const CRunSession::SDevice& device : m_session->Devices()) {
        if (device.ended) {
            ++done;
            failed += device.report.outcome < 0 ? 1 : 0;
            continue;
        }
        CDevInfoIF* info = app.Model()->GetDeviceInfo(device.report.host.c_str());
        const wchar_t* phase = info != nullptr ? info->GetValue(L"phase") : nullptr;
        restarting += phase != nullptr && std::wstring_view(phase) == L"restart" ? 1 : 0;
    }
    CUIStringTable& table = CUIStringTable::GetInstance();
    std::wstring line = table.GetText(L"STR-302") + L" " + std::to_wstring(done) + L"/" +
                        std::to_wstring(m_session->Devices().size()) + L", " +
                        table.GetText(L"STR-303") + L" " + std::to_wstring(failed) + L", " +
                        table.GetText(L"STR-304") + L" " + std::to_wstring(restarting) + L", " +
                        table.GetText(L"STR-305") + L" " +
                        CConsoleStatus::ElapsedText(Clock::now() - m_start);
    if (m_session->WavesPlanned() > 1) {
        line += L", " + table.GetText(L"STR-321") + L" " +
                std::to_wstring(m_session->CurrentWave()) + L"/" +
                std::to_wstring(m_session->WavesPlanned());
    }
    if (m_session->StoppedByRule()) {
        line += L" - " + RolloutStoppedText(m_session->FailureLimitOf());
    }
    status.Line(line);
}

int CBatchRun::Finish(CConsoleStatus& status, bool interrupted) {
    const CRunSession& session = *m_session;
    const int code = session.ExitCode();
    SRunSummary summary = session.Summary();
    summary.stopped = summary.stopped || interrupted;
    if (session.StoppedByRule()) {
        summary.stopReason = RolloutStoppedText(session.FailureLimitOf());
    } else if (interrupted) {
        summary.stopReason = CUIStringTable::GetInstance().GetText(L"STR-301");
    } else if (session.Draining() && session.LeftDevicesNotStarted()) {
        summary.stopReason = CUIStringTable::GetInstance().GetText(L"STR-323");
    }
    if (status.Enabled()) {
        status.Keep();  // the fleet's last summary stays on the terminal
    }
    if (m_options.json) {
        Put(m_pOut, SummaryJsonLine(summary) + "\n");
    }
    WriteRequestedReport(session, m_options.reportFile);
    if (!summary.stopReason.empty()) {
        SayOnStandardError(Narrow(summary.stopReason));
    }
    if (m_options.dryRun) {
        return code;  // a rehearsal leaves no record
    }
    std::wstring detail;
    CResultLog::ExtraKeys keys;
    int worstSeverity = -1;
    for (const CRunSession::SDevice& device : session.Devices()) {
        if (ExitSeverity(device.report.outcome) > worstSeverity) {
            worstSeverity = ExitSeverity(device.report.outcome);
            detail = device.report.result;
        }
        keys.emplace_back(device.report.host,
                          std::to_wstring(device.report.outcome) + L" " + device.report.result);
    }
    if (session.StoppedByRule() || (!interrupted && !summary.stopReason.empty())) {
        detail = summary.stopReason;
    }
    const std::filesystem::path log = CFilePath::GetInstance().GetPath(L"log");
    // A batch that rewrote names the image it sent, so a field report identifies the firmware.
    CResultLog::Write(
        log, code, detail,
        session.ImageSent() ? CResultLog::WithImageDigest(CarriedImageSha256(), keys) : keys);
    // Fleet tools that collect the logs of many sites read where this run's section went.
    SayOnStandardError("result log: " + log.string());
    return code;
}

}  // namespace talbo::tesk::vorta
