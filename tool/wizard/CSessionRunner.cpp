#include "tool/wizard/CSessionRunner.h"

#include <system_error>

#include "tool/app/CFilePath.h"
#include "tool/app/CommandLineHelp.h"

namespace tv = talbo::tesk::vorta;

namespace {

constexpr int kPollMilliseconds = 250;

}  // namespace

CSessionRunner::CSessionRunner(const WizardEngineAccess& engine, QObject* parent)
    : QObject(parent), m_engine(engine) {
    m_timer.setObjectName(QStringLiteral("sessionPollTimer"));
    m_timer.setInterval(kPollMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &CSessionRunner::OnTimer);
}

CSessionRunner::~CSessionRunner() {
    if (m_pLoadThread.joinable()) {
        m_pLoadThread.join();
    }
}

bool CSessionRunner::Start(EKind kind, const std::wstring& policy, tv::SRolloutOptions options,
                           const std::vector<std::wstring>& hosts,
                           std::function<bool(const std::wstring& host)> askDowngrade) {
    if (IsRunning()) {
        return false;
    }
    tv::CRunSession::SCallbacks callbacks;
    callbacks.deviceEnded = [this](const tv::CRunSession::SDevice& device) {
        emit deviceEnded(static_cast<int>(&device - m_session->Devices().data()));
    };
    callbacks.askDowngrade = std::move(askDowngrade);
    m_session.emplace(
        tv::CRunSession::SEngine{m_engine.Model(), m_engine.Controller(), m_engine.Settings()},
        kind, policy, tv::CarriedImageVersion(), std::move(options), std::move(callbacks));
    m_bFinished = false;
    const bool started = m_session->Start(hosts);
    if (m_session->IsDone()) {
        Finish();
        return started;
    }
    OnTimer();  // a session waiting for the image asks for it at once
    if (!m_session->IsDone() && !m_pLoadThread.joinable()) {
        m_timer.start();
    }
    return true;
}

void CSessionRunner::OnTimer() {
    if (!m_session || m_pLoadThread.joinable()) {
        return;
    }
    m_session->Poll();
    if (m_session->Stage() == tv::CRunSession::EStage::NeedsImage) {
        if (m_bImageLoaded) {
            // The engine keeps the image it loaded in an earlier session.
            m_session->ImageLoaded(true);
        } else {
            LoadImage();
            return;
        }
    }
    emit polled();
    if (m_session->IsDone()) {
        Finish();
    }
}

void CSessionRunner::LoadImage() {
    m_timer.stop();
    try {
        m_pLoadThread = std::thread([this] {
            const auto& load = m_engine.extractAndLoadImage;
            const bool loaded = load && load(tv::CFilePath::GetInstance().GetPath(L"updateImage"));
            // Back to the main thread: the session is only ever touched there.
            QMetaObject::invokeMethod(
                this,
                [this, loaded] {
                    m_pLoadThread.join();
                    m_bImageLoaded = loaded;
                    m_session->ImageLoaded(loaded);
                    if (!loaded) {
                        emit imageFailed();
                    }
                    if (m_session->IsDone()) {
                        Finish();
                    } else {
                        m_timer.start();
                    }
                },
                Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        m_session->ImageLoaded(false);
        emit imageFailed();
        Finish();
    }
}

void CSessionRunner::Finish() {
    m_timer.stop();
    if (!m_bFinished) {
        m_bFinished = true;
        emit finished();
    }
}
