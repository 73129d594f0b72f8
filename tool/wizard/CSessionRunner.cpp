#include "tool/wizard/CSessionRunner.h"

#include <system_error>

#include "tool/app/CFilePath.h"
#include "tool/app/CarriedVersions.h"

namespace tv = talbo::tesk::vorta;

namespace {

constexpr int kPollMilliseconds = 250;

}  // namespace

CSessionRunner::CSessionRunner(WizardEngineAccess engine, QObject* parent)
    : QObject(parent), m_engine(std::move(engine)), m_timer(this) {
    m_timer.setObjectName(QStringLiteral("sessionPollTimer"));
    m_timer.setInterval(kPollMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &CSessionRunner::OnTimer);
}

CSessionRunner::~CSessionRunner() {
    if (m_loadThread.joinable()) {
        m_loadThread.join();
    }
}

bool CSessionRunner::Start(EKind kind, const std::wstring& policy, tv::SRolloutOptions options,
                           const std::vector<std::wstring>& hosts,
                           std::function<bool(const std::wstring& host)> askDowngrade) {
    const tv::CRunSession::SEngine engine{m_engine.Model(), m_engine.Controller(),
                                          m_engine.Settings()};
    if (m_bRunning || engine.model == nullptr || engine.controller == nullptr) {
        return false;
    }
    tv::CRunSession::SCallbacks callbacks;
    callbacks.deviceEnded = [this](const tv::CRunSession::SDevice& device) {
        // Ends before the first job are the session's own verdict that it could not start;
        // the page says that once, not per row.
        if (m_bJobStarted) {
            emit deviceEnded(static_cast<int>(&device - m_session->Devices().data()));
        }
    };
    callbacks.askDowngrade = [this, ask = std::move(askDowngrade)](const std::wstring& host) {
        if (!ask) {
            return false;
        }
        // The question is modal and runs an event loop of its own: no tick may reach the
        // session while it is open, and the engine waits for the answer meanwhile anyway.
        m_timer.stop();
        const bool rewrite = ask(host);
        m_timer.start();
        return rewrite;
    };
    const std::wstring imageVersion =
        m_engine.imageVersion ? m_engine.imageVersion() : tv::CarriedImageVersion();
    m_session.emplace(engine, kind, policy, imageVersion, std::move(options), std::move(callbacks));
    m_bRunning = true;
    m_bJobStarted = false;
    m_bStarting = true;
    m_session->Start(hosts);
    AfterStep();
    m_bStarting = false;
    if (m_session->IsDone()) {
        m_bRunning = false;
        return false;
    }
    return true;
}

int CSessionRunner::Drain() {
    if (!m_bRunning || !m_session) {
        return 0;
    }
    // At once, also from a question asked inside a poll: the engine's other runners would go
    // on starting devices for as long as the question stays open.
    const int inProgress = m_session->Drain();
    // An image load still under way ends the session when it comes back, a poll under way when
    // it returns; otherwise a session that had nothing in progress has ended now.
    if (!m_loadThread.joinable() && !m_bPolling) {
        AfterStep();
    }
    return inProgress;
}

void CSessionRunner::OnTimer() {
    if (!m_session || m_bPolling || m_loadThread.joinable()) {
        return;
    }
    m_bPolling = true;
    m_session->Poll();
    m_bPolling = false;
    emit polled();
    AfterStep();
}

void CSessionRunner::AfterStep() {
    const tv::CRunSession::EStage stage = m_session->Stage();
    if (!m_bJobStarted && (stage == tv::CRunSession::EStage::Testing ||
                           stage == tv::CRunSession::EStage::Rewriting)) {
        m_bJobStarted = true;
        emit jobStarted();
    }
    if (stage == tv::CRunSession::EStage::NeedsImage) {
        if (!m_bImageLoaded) {
            LoadImage();
            return;
        }
        // The engine keeps the image it loaded for an earlier session.
        m_session->ImageLoaded(true);
        AfterStep();
        return;
    }
    if (m_session->IsDone()) {
        Finish();
    } else if (!m_timer.isActive()) {
        m_timer.start();
    }
}

void CSessionRunner::LoadImage() {
    m_timer.stop();
    // The path is taken here: the file paths belong to the main thread.
    const std::filesystem::path path = tv::CFilePath::GetInstance().GetPath(L"updateImage");
    try {
        m_loadThread = std::thread([this, load = m_engine.extractAndLoadImage, path] {
            const bool loaded = load && load(path);
            // Back to the main thread; a runner destroyed meanwhile has joined this thread
            // first, and its pending calls die with it.
            QMetaObject::invokeMethod(
                this, [this, loaded] { ImageLoadEnded(loaded); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // Without a thread there is no image: the session ends as for a refused one.
        ImageLoadEnded(false);
    }
}

void CSessionRunner::ImageLoadEnded(bool loaded) {
    if (m_loadThread.joinable()) {
        m_loadThread.join();
    }
    m_bImageLoaded = loaded;
    if (!loaded && !m_bStarting) {
        emit imageFailed();
    }
    m_session->ImageLoaded(loaded);
    AfterStep();
}

void CSessionRunner::Finish() {
    m_timer.stop();
    if (!m_bRunning) {
        return;
    }
    if (m_bStarting) {
        return;  // Start answers for itself
    }
    m_bRunning = false;
    emit finished();
}
