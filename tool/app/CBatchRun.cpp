#include "tool/app/CBatchRun.h"

#include <algorithm>
#include <cstring>

#include "common/DeviceListFile.h"
#include "common/Utf8.h"
#include "engine/interface/ResultCodes.h"
#include "tool/app/CConsoleStatus.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CResultLog.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/ExitCodes.h"
#include "tool/app/StopSignals.h"

namespace talbo::tesk::vorta {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(250);

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

int TakeSignals(CVortaFWUpdateToolUIApp& app) {
    StopSignals* signals = app.Signals();
    return signals != nullptr ? signals->Take() : 0;
}

}  // namespace

CBatchRun::CBatchRun(std::wstring listFile, std::wstring policy, int devicesAtATime, std::FILE* out)
    : m_strListFile(std::move(listFile)),
      m_strPolicy(std::move(policy)),
      m_nDevicesAtATime(devicesAtATime),
      m_pOut(out) {}

bool CBatchRun::Prepare(CVortaFWUpdateToolUIApp& app) {
    const std::string listName = Narrow(m_strListFile);
    const common::DeviceList list = common::ReadDeviceList(listName);
    if (list.readError != 0) {
        SayOnStandardError("cannot read the device list " + listName + " (" +
                           std::strerror(list.readError) + "); nothing was done");
        return false;
    }
    if (list.badLine != 0) {
        SayOnStandardError(listName + " line " + std::to_string(list.badLine) +
                           " is not a host name (1 to 254 of the letters, digits, \".\" and "
                           "\"-\"); nothing was done");
        return false;
    }
    if (list.names.empty()) {
        SayOnStandardError("the device list " + listName + " names no device; nothing was done");
        return false;
    }
    CUpdateSettingsExport* settings = app.Settings();
    if (m_nDevicesAtATime > 0 &&
        (settings == nullptr || !settings->SetDevicesAtATime(m_nDevicesAtATime))) {
        SayOnStandardError("the engine refused " + std::to_string(m_nDevicesAtATime) +
                           " devices at a time; nothing was done");
        return false;
    }
    CUpdateModelExport* model = app.Model();
    if (!model->ImportDeviceList(m_strListFile.c_str())) {
        SayOnStandardError("the engine refused the device list " + listName + "; nothing was done");
        return false;
    }
    for (CHostNameIterator it = model->GetHostNameIterator(); it.Current() != nullptr; it.Next()) {
        m_devices.push_back({it.Current(), false, std::nullopt});
    }
    return !m_devices.empty();
}

int CBatchRun::Run(CVortaFWUpdateToolUIApp& app) {
    m_start = Clock::now();
    if (!Prepare(app)) {
        return kExitTestFailed;
    }
    CConsoleStatus status;
    if (TakeSignals(app) > 0) {
        EndRemaining(InterruptedOutcome(), status);  // stopped during start-up
        return Finish(app, status);
    }
    if (!app.Controller()->StartCommunicationTest()) {
        EndRemaining({kExitTestFailed, L"the communication test could not start"}, status);
        return Finish(app, status);
    }
    if (!WaitForPhase(app, status, EPhase::Test)) {
        EndRemaining(InterruptedOutcome(), status);
        return Finish(app, status);
    }
    if (!AnyPassed()) {
        return Finish(app, status);
    }
    if (!TargetPassedDevices(app)) {
        EndRemaining({kExitRewriteFailed, L"the rewrite could not start"}, status);
        return Finish(app, status);
    }
    DrawSummary(app, status);
    const bool loaded = app.ExtractAndLoadImage(CFilePath::GetInstance().GetPath(L"updateImage"));
    if (TakeSignals(app) > 0) {
        EndRemaining(InterruptedOutcome(), status);  // caught while the image loaded
        return Finish(app, status);
    }
    if (!loaded) {
        EndRemaining({kExitTestFailed, L"the update image could not be loaded"}, status);
        return Finish(app, status);
    }
    if (!app.Controller()->StartUpdate(m_strPolicy.c_str())) {
        EndRemaining({kExitRewriteFailed, L"the rewrite could not start"}, status);
        return Finish(app, status);
    }
    m_bRewriteStarted = true;
    if (!WaitForPhase(app, status, EPhase::Rewrite)) {
        EndRemaining(InterruptedOutcome(), status);
    }
    return Finish(app, status);
}

bool CBatchRun::WaitForPhase(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status, EPhase phase) {
    CUpdateModelExport* model = app.Model();
    StopSignals* signals = app.Signals();
    const auto inPhase = [phase](const SDevice& device) {
        return !device.outcome && (phase == EPhase::Rewrite || !device.passedTest);
    };
    int caught = 0;
    for (;;) {
        for (SDevice& device : m_devices) {
            if (!inPhase(device)) {
                continue;
            }
            const int progress = model->GetProgress(device.host.c_str());
            if (phase == EPhase::Test && IsSuccess(progress)) {
                device.passedTest = true;
            } else if (phase == EPhase::Test && progress < 0) {
                End(device, TestFailedOutcome(progress), status);
            } else if (phase == EPhase::Rewrite && HasEnded(progress)) {
                End(device, RewriteOutcome(progress), status);
            }
        }
        // The job gives the engine back a moment after its last device; the next target
        // change or start must come after that.
        if (std::none_of(m_devices.begin(), m_devices.end(), inPhase) && app.JobEnded()) {
            DrawSummary(app, status);
            return true;
        }
        DrawSummary(app, status);
        const int before = caught;
        caught += signals != nullptr ? signals->Wait(kPollInterval) : 0;
        if (caught > 0 && phase == EPhase::Test) {
            return false;
        }
        if (caught >= 2) {
            return false;
        }
        if (caught == 1 && before == 0) {
            // Stopping now would leave devices between two firmware parts; they recover only
            // through another rewrite, so the operator decides.
            status.Notice(
                L"VortaFWUpdateTool: devices are in the middle of their update. Send the "
                L"signal again (Ctrl-C) to stop anyway; a later run resumes them.");
        }
    }
}

bool CBatchRun::TargetPassedDevices(CVortaFWUpdateToolUIApp& app) {
    CUpdateModelExport* model = app.Model();
    return std::all_of(m_devices.begin(), m_devices.end(), [model](const SDevice& device) {
        return model->SetUpdateTarget(device.host.c_str(), device.passedTest);
    });
}

void CBatchRun::End(SDevice& device, SRunOutcome outcome, CConsoleStatus& status) {
    status.Clear();  // the device line may share the terminal with the status line
    Put(m_pOut, Narrow(device.host) + "\t" + std::to_string(outcome.exitCode) + "\t" +
                    Narrow(outcome.detail) + "\n");
    device.outcome = std::move(outcome);
}

void CBatchRun::EndRemaining(const SRunOutcome& outcome, CConsoleStatus& status) {
    for (SDevice& device : m_devices) {
        if (!device.outcome) {
            End(device, outcome, status);
        }
    }
}

bool CBatchRun::AnyPassed() const {
    return std::any_of(m_devices.begin(), m_devices.end(),
                       [](const SDevice& device) { return !device.outcome; });
}

void CBatchRun::DrawSummary(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status) const {
    if (!status.Enabled()) {
        return;
    }
    std::size_t done = 0;
    std::size_t failed = 0;
    std::size_t restarting = 0;
    for (const SDevice& device : m_devices) {
        if (device.outcome) {
            ++done;
            failed += device.outcome->exitCode < 0 ? 1 : 0;
            continue;
        }
        CDevInfoIF* info = app.Model()->GetDeviceInfo(device.host.c_str());
        const wchar_t* phase = info != nullptr ? info->GetValue(L"phase") : nullptr;
        restarting += phase != nullptr && std::wstring_view(phase) == L"restart" ? 1 : 0;
    }
    CUIStringTable& table = CUIStringTable::GetInstance();
    status.Line(table.GetText(L"STR-302") + L" " + std::to_wstring(done) + L"/" +
                std::to_wstring(m_devices.size()) + L", " + table.GetText(L"STR-303") + L" " +
                std::to_wstring(failed) + L", " + table.GetText(L"STR-304") + L" " +
                std::to_wstring(restarting) + L", " + table.GetText(L"STR-305") + L" " +
                CConsoleStatus::ElapsedText(Clock::now() - m_start));
}

int CBatchRun::Finish(CVortaFWUpdateToolUIApp& app, CConsoleStatus& status) {
    DrawSummary(app, status);
    const SDevice* worst = nullptr;
    CResultLog::ExtraKeys keys;
    for (const SDevice& device : m_devices) {
        if (worst == nullptr ||
            ExitSeverity(device.outcome->exitCode) > ExitSeverity(worst->outcome->exitCode)) {
            worst = &device;
        }
        keys.emplace_back(
            device.host, std::to_wstring(device.outcome->exitCode) + L" " + device.outcome->detail);
    }
    const int code = worst != nullptr ? worst->outcome->exitCode : kExitTestFailed;
    const std::filesystem::path log = CFilePath::GetInstance().GetPath(L"log");
    // A batch that rewrote names the image it sent, so a field report identifies the firmware.
    CResultLog::Write(
        log, code, worst != nullptr ? worst->outcome->detail : std::wstring(),
        m_bRewriteStarted ? CResultLog::WithImageDigest(CarriedImageSha256(), keys) : keys);
    status.Keep();  // the fleet's last summary stays on the terminal
    // Fleet tools that collect the logs of many sites read where this run's section went.
    SayOnStandardError("result log: " + log.string());
    return code;
}

}  // namespace talbo::tesk::vorta
