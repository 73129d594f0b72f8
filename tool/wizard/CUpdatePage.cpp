#include "tool/wizard/CUpdatePage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "engine/interface/ResultCodes.h"
#include "tool/app/CFilePath.h"
#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"
#include "tool/wizard/DeviceListReport.h"
#include "tool/wizard/DeviceProgress.h"
#include "tool/wizard/DeviceRows.h"
#include "tool/wizard/DevicesAtATimeSetting.h"
#include "tool/wizard/PageStyle.h"
#include "tool/wizard/RolloutLimitSettings.h"
#include "tool/wizard/WizardMessageBox.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;

namespace {

constexpr int kPollIntervalMs = 250;
constexpr int kModelColumn = 1;
constexpr int kVersionColumn = 2;
constexpr int kProgressColumn = 4;

// The downgrade policy handed to the engine for each choice, in the order of the radios.
const wchar_t* const kDowngradePolicies[] = {L"inquiry", L"skip", L"update"};

}  // namespace

CUpdatePage::CUpdatePage(CVortaFWUpdateToolUIDlg& frame)
    : CWizardPage(frame),
      m_list(this),
      m_listTools(m_list, EListJob::Rewrite, {kModelColumn, kVersionColumn, kProgressColumn}, this),
      m_groupDowngrade(this),
      m_radioAsk(this),
      m_radioSkip(this),
      m_radioRewrite(this),
      m_staticTitle(this),
      m_staticSummary(this),
      m_staticDevicesAtATime(this),
      m_spinDevicesAtATime(this),
      m_staticCanaryCount(this),
      m_spinCanaryCount(this),
      m_staticStopAfterFailures(this),
      m_spinStopAfterFailures(this),
      m_timer(this) {
    setObjectName(QStringLiteral("updatePage"));
    m_timer.setObjectName(QStringLiteral("updatePollTimer"));
    BuildLayout();
    m_timer.setInterval(kPollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &CUpdatePage::OnTimer);
    connect(&m_list, &CDeviceListView::checkChanged, this, &CUpdatePage::OnUpdateListItemChanged);
}

CUpdatePage::~CUpdatePage() {
    // The load worker posts its result just before it ends; the wizard cannot close while it
    // runs, so this waits for nothing in practice.
    if (m_pLoadThread.joinable()) {
        m_pLoadThread.join();
    }
}

void CUpdatePage::BuildLayout() {
    m_list.setObjectName(QStringLiteral("updateList"));
    m_radioAsk.setObjectName(QStringLiteral("ask"));
    m_radioSkip.setObjectName(QStringLiteral("skip"));
    m_radioRewrite.setObjectName(QStringLiteral("rewrite"));
    m_spinDevicesAtATime.setObjectName(QStringLiteral("devicesAtATime"));
    m_staticSummary.setObjectName(QStringLiteral("updateSummary"));
    StyleHeading(m_staticTitle);
    m_downgradeChoices.addButton(&m_radioAsk, 0);
    m_downgradeChoices.addButton(&m_radioSkip, 1);
    m_downgradeChoices.addButton(&m_radioRewrite, 2);
    m_spinCanaryCount.setObjectName(QStringLiteral("canaryCount"));
    m_spinStopAfterFailures.setObjectName(QStringLiteral("stopAfterFailures"));
    m_staticDevicesAtATime.setBuddy(&m_spinDevicesAtATime);
    m_staticCanaryCount.setBuddy(&m_spinCanaryCount);
    m_staticStopAfterFailures.setBuddy(&m_spinStopAfterFailures);
    m_spinDevicesAtATime.setRange(DevicesAtATimeSetting::kMinimum, DevicesAtATimeSetting::kMaximum);
    m_spinCanaryCount.setRange(CanaryCountSetting::kMinimum, CanaryCountSetting::kMaximum);
    m_spinStopAfterFailures.setRange(StopAfterFailuresSetting::kMinimum,
                                     StopAfterFailuresSetting::kMaximum);

    auto* choices = new QVBoxLayout(&m_groupDowngrade);
    choices->addWidget(&m_radioAsk);
    choices->addWidget(&m_radioSkip);
    choices->addWidget(&m_radioRewrite);
    m_groupDowngrade.setMinimumWidth(DialogUnitsX(*this, 220));

    // The numbers of a rewrite, one per row, beside the choices.
    auto* devicesAtATime = new QGridLayout;
    devicesAtATime->setVerticalSpacing(DialogUnitsY(*this, 2));
    devicesAtATime->addWidget(&m_staticDevicesAtATime, 0, 0);
    devicesAtATime->addWidget(&m_spinDevicesAtATime, 0, 1);
    devicesAtATime->addWidget(&m_staticCanaryCount, 1, 0);
    devicesAtATime->addWidget(&m_spinCanaryCount, 1, 1);
    devicesAtATime->addWidget(&m_staticStopAfterFailures, 2, 0);
    devicesAtATime->addWidget(&m_spinStopAfterFailures, 2, 1);

    auto* group = new QHBoxLayout;
    group->addWidget(&m_groupDowngrade);
    group->addStretch(1);
    group->addLayout(devicesAtATime);
    group->setAlignment(devicesAtATime, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(PageMargins(*this));
    layout->addWidget(&m_staticTitle);
    layout->addSpacing(DialogUnitsY(*this, 4));
    layout->addWidget(&m_list, 1);
    layout->addWidget(&m_listTools);
    layout->addWidget(&m_staticSummary);
    layout->addSpacing(DialogUnitsY(*this, 2));
    layout->addLayout(group);
}

bool CUpdatePage::OnInitDialog() {
    InitTexts();
    m_radioAsk.setChecked(true);
    InitDevicesAtATime();
    InitRolloutLimits();
    connect(&m_spinDevicesAtATime, &QSpinBox::valueChanged, this,
            &CUpdatePage::OnDevicesAtATimeChanged);
    connect(&m_spinCanaryCount, &QSpinBox::valueChanged, this, &CanaryCountSetting::Remember);
    connect(&m_spinStopAfterFailures, &QSpinBox::valueChanged, this,
            &StopAfterFailuresSetting::Remember);
    return false;
}

void CUpdatePage::InitTexts() {
    m_strTitle = UIText(L"FSTR-0300");
    m_list.SetColumns({UIText(L"FSTR-0301"), UIText(L"FSTR-0302"), UIText(L"FSTR-0303"),
                       UIText(L"FSTR-0304"), UIText(L"FSTR-0305")},
                      {120, 120, 120, 120, 120});
    m_strGroupTitle = UIText(L"FSTR-0306");
    m_radioAsk.setText(UIText(L"FSTR-0307"));
    m_radioSkip.setText(UIText(L"FSTR-0308"));
    m_radioRewrite.setText(UIText(L"FSTR-0309"));
    m_staticDevicesAtATime.setText(UIText(L"FSTR-0311"));
    m_staticCanaryCount.setText(UIText(L"FSTR-0318"));
    m_spinCanaryCount.setSpecialValueText(UIText(L"FSTR-0319"));
    m_staticStopAfterFailures.setText(UIText(L"FSTR-0320"));
    m_spinStopAfterFailures.setSpecialValueText(UIText(L"FSTR-0321"));
    SetAccessibleText(m_list, m_strTitle);
    SetAccessibleText(m_groupDowngrade, m_strGroupTitle);
    for (QRadioButton* radio : {&m_radioAsk, &m_radioSkip, &m_radioRewrite}) {
        SetAccessibleText(*radio, radio->text());
    }
    SetAccessibleText(m_spinDevicesAtATime, m_staticDevicesAtATime.text());
    SetAccessibleText(m_spinCanaryCount, m_staticCanaryCount.text());
    SetAccessibleText(m_spinStopAfterFailures, m_staticStopAfterFailures.text());
    m_listTools.InitTexts();
    UpdateData(false);
}

void CUpdatePage::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_nDowngradeChoice = std::max(0, m_downgradeChoices.checkedId());
        return;
    }
    m_staticTitle.setText(m_strTitle);
    m_groupDowngrade.setTitle(m_strGroupTitle);
    if (QAbstractButton* choice = m_downgradeChoices.button(m_nDowngradeChoice)) {
        choice->setChecked(true);
    }
}

void CUpdatePage::InitDevicesAtATime() {
    tv::CUpdateSettingsExport* settings = Frame().Engine().Settings();
    const std::optional<int> remembered = DevicesAtATimeSetting::Remembered();
    // What the operator chose last time wins; otherwise the engine's own start value, which
    // the environment may have set.
    const int devices = remembered.value_or(settings != nullptr ? settings->GetDevicesAtATime()
                                                                : DevicesAtATimeSetting::kMinimum);
    const QSignalBlocker quiet(m_spinDevicesAtATime);
    m_spinDevicesAtATime.setValue(devices);
    // An engine without the setting works on one device at a time, whatever the box says.
    m_spinDevicesAtATime.setEnabled(settings != nullptr);
    if (remembered) {
        ApplyDevicesAtATime();
    }
}

void CUpdatePage::InitRolloutLimits() {
    const QSignalBlocker quietCanary(m_spinCanaryCount);
    const QSignalBlocker quietStop(m_spinStopAfterFailures);
    m_spinCanaryCount.setValue(CanaryCountSetting::Remembered().value_or(0));
    m_spinStopAfterFailures.setValue(StopAfterFailuresSetting::Remembered().value_or(0));
    // Only the engine's settings can stop a rewrite.
    m_spinStopAfterFailures.setEnabled(Frame().Engine().Settings() != nullptr);
}

void CUpdatePage::OnDevicesAtATimeChanged(int devices) {
    DevicesAtATimeSetting::Remember(devices);
    ApplyDevicesAtATime();
}

bool CUpdatePage::ApplyDevicesAtATime() {
    tv::CUpdateSettingsExport* settings = Frame().Engine().Settings();
    return settings != nullptr && settings->SetDevicesAtATime(m_spinDevicesAtATime.value());
}

bool CUpdatePage::OnSetActive() {
    RefreshUpdateList();
    return true;
}

void CUpdatePage::RefreshUpdateList() {
    tv::CUpdateModelExport* model = Frame().Engine().Model();
    if (model == nullptr) {
        return;
    }
    if (RefreshDeviceRows(*model, Frame().DeviceRecords(), m_list,
                          {L"modelname", L"version", L"afterversion"}, ECheckSync::BothWays) > 0) {
        m_list.FitColumnsToContents();
    }
}

void CUpdatePage::OnUpdateListItemChanged(int row, bool checked) {
    if (tv::CUpdateModelExport* model = Frame().Engine().Model()) {
        model->SetUpdateTarget(ToWString(m_list.Text(row, 0)).c_str(), checked);
    }
}

bool CUpdatePage::OnWizardUpdate() {
    if (m_list.FirstCheckedRow() < 0) {
        ShowWizardMessage(this, L"MSG-204", QMessageBox::Information);
        return false;
    }
    if (ShowWizardMessage(this, L"MSG-200", QMessageBox::Question,
                          QMessageBox::Yes | QMessageBox::No,
                          QMessageBox::No) != QMessageBox::Yes) {
        Frame().UpdateButton().setFocus();
        return true;
    }
    if (m_bImageLoaded) {
        return StartUpdateJob();
    }
    if (m_pLoadThread.joinable()) {
        m_pLoadThread.join();  // the previous, failed load has already reported
    }
    try {
        m_pLoadThread = std::thread(&CUpdatePage::LoadImageThread, this);
    } catch (const std::system_error&) {
        ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
        return false;
    }
    EnableControls(false);
    return true;
}

void CUpdatePage::LoadImageThread() {
    const std::filesystem::path path = tv::CFilePath::GetInstance().GetPath(L"updateImage");
    const auto& load = Frame().Engine().extractAndLoadImage;
    const bool loaded = load && load(path);
    if (loaded) {
        m_bImageLoaded = true;
    }
    // Back to the main thread: the page is only ever touched there.
    QMetaObject::invokeMethod(
        this, [this, loaded] { OnImageLoaded(loaded); }, Qt::QueuedConnection);
}

int CUpdatePage::OnImageLoaded(bool success) {
    if (success) {
        StartUpdateJob();
    } else {
        ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
        EnableControls(true);
        Frame().UpdateButton().setFocus();
    }
    return 0;
}

bool CUpdatePage::StartUpdateJob() {
    UpdateData(true);
    // A refusal leaves the engine's own values; the job then works with those.
    ApplyDevicesAtATime();
    if (tv::CUpdateSettingsExport* settings = Frame().Engine().Settings()) {
        settings->SetStopAfterFailures(StopAfterFailures());
    }
    tv::CUpdateControllerExport* controller = Frame().Engine().Controller();
    if (controller != nullptr && controller->StartUpdate(kDowngradePolicies[m_nDowngradeChoice])) {
        m_runningRows.clear();
        CDeviceListModel& rows = m_list.Rows();
        rows.BeginJob();
        for (int row = 0; row < m_list.RowCount(); ++row) {
            if (m_list.IsChecked(row)) {
                m_runningRows.push_back(row);
                rows.SetRowVersionBefore(row, m_list.Text(row, kVersionColumn));
            }
        }
        m_bAnyFailed = false;
        m_nDone = 0;
        m_nFailed = 0;
        m_elapsed.start();
        EnableControls(false);
        ShowSummary();
        m_timer.start(kPollIntervalMs);
        return true;
    }
    ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
    EnableControls(true);
    return false;
}

void CUpdatePage::OnTimer() {
    // Rows that have ended never change again, so each poll reads only the others, and the
    // list repaints only the cells whose text changed.
    m_nAskingRow = -1;
    std::erase_if(m_runningRows, [this](int row) { return PollUpdateResult(row); });
    ShowSummary();
    if (m_nAskingRow >= 0) {
        AskDowngrade(m_nAskingRow);
        return;
    }
    if (m_runningRows.empty() && Frame().Engine().JobEnded()) {
        FinishUpdateJob();
    }
}

void CUpdatePage::FinishUpdateJob() {
    m_timer.stop();
    m_list.FitColumnsToContents();
    m_listTools.JobEnded();
    if (m_bAnyFailed) {
        ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
    } else {
        ShowWizardMessage(this, L"MSG-202", QMessageBox::Information);
    }
    EnableControls(true);
    Frame().UpdateButton().setFocus();
}

bool CUpdatePage::PollUpdateResult(int row) {
    const int progress = DeviceProgress(Frame().Engine().Model(), m_list, row);
    if (tv::IsSuccess(progress)) {
        ShowUpdateSuccess(row);
        return true;
    }
    if (tv::IsAwaitingAnswer(progress)) {
        // The engine asks one question at a time; the row keeps what it showed meanwhile.
        if (m_nAskingRow < 0) {
            m_nAskingRow = row;
        }
        return false;
    }
    if (progress < 0) {
        ShowUpdateResult(row, progress);
        return true;
    }
    ShowProgress(row, progress);
    return false;
}

QString CUpdatePage::PhaseText(const QString& phase, int progress) {
    static const QRegularExpression upload(QStringLiteral("^upload (\\d+)/(\\d+)$"));
    if (phase.isEmpty()) {
        return progress == 0 ? UIText(L"FSTR-0316") : QString();
    }
    if (phase == QLatin1String("test")) {
        return UIText(L"FSTR-0312");
    }
    if (const QRegularExpressionMatch part = upload.match(phase); part.hasMatch()) {
        return UIText(L"FSTR-0313").arg(part.captured(1), part.captured(2));
    }
    if (phase == QLatin1String("restart")) {
        return UIText(L"FSTR-0314");
    }
    if (phase == QLatin1String("confirm")) {
        return UIText(L"FSTR-0315");
    }
    return phase;  // a step this wizard does not know yet is shown as the engine names it
}

void CUpdatePage::ShowProgress(int row, int percentage) {
    tv::CDevInfoIF* device = DeviceRecord(Frame().Engine().Model(), m_list, row);
    const QString phase = DeviceValue(device, L"phase").value_or(QString());
    CDeviceListModel& rows = m_list.Rows();
    if (!phase.isEmpty() || percentage > 0) {
        rows.MarkRowStarted(row, std::chrono::system_clock::now());
    }
    const auto rewriting = [](const QString& step) {
        return step.startsWith(QLatin1String("upload ")) || step == QLatin1String("restart");
    };
    if (rewriting(phase)) {
        // Between its test and the confirmation the device's version is the one its test read;
        // the phase, read again after the version, shows the confirmation had not replaced it.
        const std::optional<QString> version = DeviceValue(device, L"version");
        if (version && rewriting(DeviceValue(device, L"phase").value_or(QString()))) {
            rows.SetRowVersionBefore(row, *version);
        }
    }
    if (phase.isEmpty() && percentage == 0) {
        // Not reached by the job yet: no bar, only the word.
        m_list.SetText(row, kProgressColumn, PhaseText(phase, percentage));
        return;
    }
    m_list.Rows().SetProgress(row, kProgressColumn, percentage, PhaseText(phase, percentage));
}

void CUpdatePage::ShowUpdateSuccess(int row) {
    FillVersionColumns(row);
    m_list.SetText(row, kProgressColumn, UIText(L"STR-001"));
    EndRow(row, tv::ToInt(tv::EResultCode::Success));
    ++m_nDone;
}

void CUpdatePage::EndRow(int row, int resultCode) {
    CDeviceListModel& rows = m_list.Rows();
    // Only a success and an unconfirmed version are read back after a rewrite; for every other
    // end the version shown is still the one the job's test read.
    if (!tv::IsSuccess(resultCode) &&
        resultCode != tv::ToInt(tv::EResultCode::VersionNotConfirmed)) {
        rows.SetRowVersionBefore(row, m_list.Text(row, kVersionColumn));
    }
    rows.EndRow(row, RowOutcome(EListJob::Rewrite, resultCode), resultCode,
                std::chrono::system_clock::now());
}

void CUpdatePage::ShowUpdateResult(int row, int resultCode) {
    m_list.SetText(row, kProgressColumn, UIResultText(resultCode));
    // Whatever the outcome, the row shows what the device reported last: after a failed or
    // unconfirmed rewrite the operator must see which firmware it really runs.
    FillVersionColumns(row);
    EndRow(row, resultCode);
    // "No need to rewrite" counts as done, not failed.
    if (resultCode != tv::ToInt(tv::EResultCode::SameVersion)) {
        m_bAnyFailed = true;
        ++m_nFailed;
    } else {
        ++m_nDone;
    }
}

void CUpdatePage::FillVersionColumns(int row) {
    tv::CDevInfoIF* device = DeviceRecord(Frame().Engine().Model(), m_list, row);
    if (device == nullptr) {
        return;
    }
    const wchar_t* const keys[] = {L"modelname", L"version", L"afterversion"};
    for (int column = kModelColumn; column <= 3; ++column) {
        if (const auto value = DeviceValue(device, keys[column - 1])) {
            m_list.SetText(row, column, *value);
        }
    }
}

QString CUpdatePage::SummaryText(int done, int failed, int waiting, qint64 elapsedMs) {
    const qint64 seconds = elapsedMs / 1000;
    const QString elapsed = QStringLiteral("%1:%2:%3")
                                .arg(seconds / 3600)
                                .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return UIText(L"FSTR-0317")
        .arg(QString::number(done), QString::number(failed), QString::number(waiting), elapsed);
}

void CUpdatePage::ShowSummary() {
    m_staticSummary.setText(SummaryText(m_nDone, m_nFailed, static_cast<int>(m_runningRows.size()),
                                        m_elapsed.isValid() ? m_elapsed.elapsed() : 0));
}

void CUpdatePage::AskDowngrade(int row) {
    m_timer.stop();
    // The operator must see which device asks before answering for it.
    m_listTools.RevealRow(row);
    const bool rewrite =
        ShowWizardMessage(this, L"MSG-201", QMessageBox::Question,
                          QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    if (tv::CUpdateControllerExport* controller = Frame().Engine().Controller()) {
        controller->AnswerInquiry(rewrite ? L"update" : L"skip");
    }
    m_timer.start(kPollIntervalMs);
}

void CUpdatePage::EnableControls(bool enable) {
    CVortaFWUpdateToolUIDlg& frame = Frame();
    frame.BackButton().setEnabled(enable);
    frame.UpdateButton().setEnabled(enable);
    frame.CancelButton().setEnabled(enable);
    frame.SetCloseEnabled(enable);
    // The list stays readable and scrollable while the rewrite runs; only its check boxes lock.
    m_list.Rows().SetChecksLocked(!enable);
    m_listTools.SetLocked(!enable);
    for (QWidget* control :
         std::initializer_list<QWidget*>{&m_radioAsk, &m_radioSkip, &m_radioRewrite}) {
        control->setEnabled(enable);
    }
    m_spinDevicesAtATime.setEnabled(enable && Frame().Engine().Settings() != nullptr);
    m_spinCanaryCount.setEnabled(enable);
    m_spinStopAfterFailures.setEnabled(enable && Frame().Engine().Settings() != nullptr);
}
