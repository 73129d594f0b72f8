#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tool/app/CRunSession.h"
#include "tool/wizard/WizardEngineAccess.h"

// A run session (CRunSession) as the wizard's pages present it: polled by a timer every 250 ms
// on the main thread, the image loaded on a worker thread when the session asks for it, and
// each step reported through a signal, so that a page shows every row as its device ends.
class CSessionRunner : public QObject {
    Q_OBJECT

public:
    using EKind = talbo::tesk::vorta::CRunSession::EKind;

    explicit CSessionRunner(const WizardEngineAccess& engine, QObject* parent = nullptr);
    ~CSessionRunner() override;

    CSessionRunner(const CSessionRunner&) = delete;
    CSessionRunner& operator=(const CSessionRunner&) = delete;

    // Starts a session over the hosts, in this order. askDowngrade answers a downgrade
    // question (policy "inquiry") on the main thread. False when the session could not start:
    // its devices have then ended (deviceEnded was emitted for each) and finished follows.
    bool Start(EKind kind, const std::wstring& policy, talbo::tesk::vorta::SRolloutOptions options,
               const std::vector<std::wstring>& hosts,
               std::function<bool(const std::wstring& host)> askDowngrade = {});

    bool IsRunning() const { return m_timer.isActive() || m_pLoadThread.joinable(); }
    // The session of the last Start (its devices and their reports stay after its end).
    const talbo::tesk::vorta::CRunSession* Session() const {
        return m_session ? &*m_session : nullptr;
    }
    // Whether the image went to the engine in an earlier session (it is loaded once per run).
    bool IsImageLoaded() const { return m_bImageLoaded; }

signals:
    // The device at index (of Session()->Devices()) has ended.
    void deviceEnded(int index);
    // After every poll, for rows that show progress.
    void polled();
    // The image could not be loaded; the session's remaining devices have ended.
    void imageFailed();
    void finished();

private:
    void OnTimer();
    void LoadImage();
    void Finish();

    WizardEngineAccess m_engine;
    std::optional<talbo::tesk::vorta::CRunSession> m_session;
    QTimer m_timer;
    std::thread m_pLoadThread;
    std::atomic<bool> m_bImageLoaded{false};
    bool m_bFinished = true;
};
