#include "tool/cli/SessionDriver.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/Utf8.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/ExitCodes.h"
#include "tool/cli/CConsoleStatus.h"
#include "tool/cli/StopSignals.h"
#include "tool/session/CRunSession.h"
#include "tool/session/DeviceReport.h"

namespace talbo::tesk::vorta {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(250);

}  // namespace

void WriteRequestedReport(const CRunSession& session, const std::wstring& file) {
    if (file.empty()) {
        return;
    }
    const std::string name = common::EncodeUtf8(file).value_or(common::AsciiToNarrow(file));
    int error = 0;
    if (!WriteCsvReport(name, session.Reports(), error)) {
        static_cast<void>(std::fprintf(stderr,
                                       "VortaFWUpdateTool: could not write the report %s (%s)\n",
                                       name.c_str(), std::strerror(error)));
    }
}

int TakeStopSignals(CVortaFWUpdateToolUIApp& app) {
    StopSignals* signals = app.Signals();
    return signals != nullptr ? signals->Take() : 0;
}

std::wstring DrainNotice(int devicesInProgress) {
    std::wstring text = CUIStringTable::GetInstance().GetText(L"STR-322");
    if (const std::size_t at = text.find(L"%1"); at != std::wstring::npos) {
        text.replace(at, 2, std::to_wstring(devicesInProgress));
    }
    return L"VortaFWUpdateTool: " + text;
}

bool DriveSession(CRunSession& session, CVortaFWUpdateToolUIApp& app, CConsoleStatus& status,
                  const SSessionDriverHooks& hooks) {
    StopSignals* signals = app.Signals();
    int caught = 0;
    for (;;) {
        // Signals first: a poll may start the next wave, which a stop must never let happen.
        if (caught > 0 && !session.IsDone()) {
            // A rewrite under way drains on the first signal; before one, or on the second,
            // the run ends now.
            const bool rewriting = session.ImageSent() || session.IsRewriting();
            if (!rewriting || caught >= 2) {
                session.Interrupt(InterruptedOutcome());
                return false;
            }
            if (!session.Draining()) {
                status.Notice(DrainNotice(session.Drain()));
            }
        }
        session.Poll();
        if (session.Stage() == CRunSession::EStage::NeedsImage) {
            if (hooks.loadingImage) {
                hooks.loadingImage();
            }
            using EImageLoad = CVortaFWUpdateToolUIApp::EImageLoad;
            const EImageLoad load =
                app.LoadCarriedImage(CFilePath::GetInstance().GetPath(L"updateImage"));
            if (caught + TakeStopSignals(app) > 0) {
                // Caught while the image loaded: no device has been sent anything yet.
                session.Interrupt(InterruptedOutcome());
                return false;
            }
            if (load == EImageLoad::CopyCorrupt) {
                // What would reach the devices is not what the build carried: nobody gets it.
                status.Notice(L"VortaFWUpdateTool: " + common::BytesToWide(app.ImageCopyFailure()));
                session.ImageUnusable(
                    {kExitStartupFailed, CUIStringTable::GetInstance().GetText(L"STR-311")});
            } else {
                session.ImageLoaded(load == EImageLoad::Loaded);
            }
        }
        if (hooks.polled) {
            hooks.polled();
        }
        if (session.IsDone()) {
            return true;
        }
        if (signals != nullptr) {
            caught += signals->Wait(kPollInterval);
        } else {
            std::this_thread::sleep_for(kPollInterval);
        }
    }
}

}  // namespace talbo::tesk::vorta
