#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tool/session/CRunSession.h"
#include "tool/wizard/WizardEngineAccess.h"

// A run session (CRunSession) as the wizard's pages present it: polled by a timer every 250 ms
// on the main thread, the image loaded on a worker thread when the session asks for it (once per
// runner: its later sessions reuse it), and each step reported through a signal, so that a page
// shows every row as its device ends. The session is only ever touched on the main thread; the
// worker only loads the image and posts its result back.
class CSessionRunner : public QObject {
    Q_OBJECT

public:
    using EKind = talbo::tesk::vorta::CRunSession::EKind;

    // The engine's access object is copied; the image load calls its extractAndLoadImage on the
    // worker thread.
    explicit CSessionRunner(WizardEngineAccess engine, QObject* parent = nullptr);
    // Waits for an image load still under way (the wizard cannot close while one runs).
    ~CSessionRunner() override;

    CSessionRunner(const CSessionRunner&) = delete;
    CSessionRunner& operator=(const CSessionRunner&) = delete;

    // Starts a session over the hosts (registered in the engine, in this order). askDowngrade
    // answers a downgrade question (policy "inquiry") on the main thread; the poll timer stands
    // still while it is asked, so a modal question never lets a poll in. True when the session
    // is under way: jobStarted comes once its first job runs (at once, or after the image load),
    // then deviceEnded for every device, and finished at the end, always from the event loop.
    // False when nothing could start: a session still runs, the engine has no model or
    // controller, or the engine refused the first job; no signal follows then. A session whose
    // first job never starts (the image could not be loaded, or the engine refused the job after
    // the load) reports no device: finished comes with JobStarted() false.
    bool Start(EKind kind, const std::wstring& policy, talbo::tesk::vorta::SRolloutOptions options,
               const std::vector<std::wstring>& hosts,
               std::function<bool(const std::wstring& host)> askDowngrade = {});

    // From Start until finished has been emitted.
    bool IsRunning() const { return m_bRunning; }
    // Drains the running session (CRunSession::Drain): no further device starts, those in
    // progress finish, then finished comes as usual. Returns the devices in progress; 0 when no
    // session runs.
    int Drain();
    // The session of the last Start (its devices and their reports stay after its end).
    const talbo::tesk::vorta::CRunSession* Session() const {
        return m_session ? &*m_session : nullptr;
    }
    // Whether the last session got an engine job started.
    bool JobStarted() const { return m_bJobStarted; }
    // Whether the image went to the engine in an earlier session (it is loaded once per run).
    bool IsImageLoaded() const { return m_bImageLoaded; }

signals:
    // The session's first engine job has started; every device's end is reported from now on.
    void jobStarted();
    // The device at index (of Session()->Devices()) has ended.
    void deviceEnded(int index);
    // After every poll, for rows that show progress.
    void polled();
    // The image could not be loaded (finished follows).
    void imageFailed();
    void finished();

private:
    void OnTimer();
    // After every step of the session: notes its first job, serves its need for the image,
    // keeps the timer going or ends the run.
    void AfterStep();
    void LoadImage();
    void ImageLoadEnded(bool loaded);
    void Finish();

    WizardEngineAccess m_engine;
    std::optional<talbo::tesk::vorta::CRunSession> m_session;
    QTimer m_timer;
    std::thread m_loadThread;
    bool m_bImageLoaded = false;
    bool m_bRunning = false;
    bool m_bStarting = false;
    bool m_bJobStarted = false;
    // A poll is under way; guards against re-entry from an event loop run inside it.
    bool m_bPolling = false;
};
