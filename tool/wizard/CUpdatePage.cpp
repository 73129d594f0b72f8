#include "tool/wizard/CUpdatePage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

#include "engine/interface/ResultCodes.h"
#include "tool/app/ExitCodes.h"
#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"
#include "tool/wizard/DeviceListReport.h"
#include "tool/wizard/DeviceProgress.h"
#include "tool/wizard/DeviceRows.h"
#include "tool/wizard/PageStyle.h"
#include "tool/wizard/UserSettings.h"
#include "tool/wizard/WizardMessageBox.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;

namespace {

constexpr int kModelColumn = 1;
constexpr int kProgressColumn = 4;

// The downgrade policy handed to the engine for each choice, in the order of the radios.
const wchar_t* const kDowngradePolicies[] = {L"inquiry", L"skip", L"update"};

}  // namespace

CUpdatePage::CUpdatePage(CVortaFWUpdateToolUIDlg& frame)
    : CWizardPage(frame),
      m_list(this),
      m_listTools(m_list, this),
      m_groupDowngrade(this),
      m_radioAsk(this),
      m_radioSkip(this),
      m_radioRewrite(this),
      m_runner(frame.Engine(), this),
      m_staticTitle(this),
      m_staticSummary(this),
      m_staticRolloutStatus(this),
      m_btnStopAfterDevicesInProgress(this),
      m_staticDevicesAtATime(this),
      m_spinDevicesAtATime(this),
      m_staticCanaryCount(this),
      m_spinCanaryCount(this),
      m_staticStopAfterFailures(this),
      m_spinStopAfterFailures(this) {
    setObjectName(QStringLiteral("updatePage"));
    BuildLayout();
    connect(&m_list, &CDeviceListView::checkChanged, this, &CUpdatePage::OnUpdateListItemChanged);
    connect(&m_runner, &CSessionRunner::jobStarted, this, &CUpdatePage::OnRewriteStarted);
    connect(&m_runner, &CSessionRunner::deviceEnded, this, &CUpdatePage::OnDeviceEnded);
    connect(&m_runner, &CSessionRunner::polled, this, &CUpdatePage::OnPolled);
    connect(&m_runner, &CSessionRunner::finished, this, &CUpdatePage::OnRewriteFinished);
    connect(&m_btnStopAfterDevicesInProgress, &QPushButton::clicked, this,
            [this] { StopAfterDevicesInProgress(false); });
}

CUpdatePage::~CUpdatePage() = default;

void CUpdatePage::BuildLayout() {
    m_list.setObjectName(QStringLiteral("updateList"));
    m_radioAsk.setObjectName(QStringLiteral("ask"));
    m_radioSkip.setObjectName(QStringLiteral("skip"));
    m_radioRewrite.setObjectName(QStringLiteral("rewrite"));
    m_spinDevicesAtATime.setObjectName(QStringLiteral("devicesAtATime"));
    m_staticSummary.setObjectName(QStringLiteral("updateSummary"));
    m_staticRolloutStatus.setObjectName(QStringLiteral("rolloutStatus"));
    m_staticRolloutStatus.setWordWrap(true);
    m_staticRolloutStatus.setVisible(false);
    m_btnStopAfterDevicesInProgress.setObjectName(QStringLiteral("stopAfterDevicesInProgress"));
    m_btnStopAfterDevicesInProgress.setVisible(false);
    StyleHeading(m_staticTitle);
    m_downgradeChoices.addButton(&m_radioAsk, 0);
    m_downgradeChoices.addButton(&m_radioSkip, 1);
    m_downgradeChoices.addButton(&m_radioRewrite, 2);
    m_spinCanaryCount.setObjectName(QStringLiteral("canaryCount"));
    m_spinStopAfterFailures.setObjectName(QStringLiteral("stopAfterFailures"));
    m_staticDevicesAtATime.setBuddy(&m_spinDevicesAtATime);
    m_staticCanaryCount.setBuddy(&m_spinCanaryCount);
    m_staticStopAfterFailures.setBuddy(&m_spinStopAfterFailures);
    m_spinDevicesAtATime.setRange(kDevicesAtATimeSetting.minimum, kDevicesAtATimeSetting.maximum);
    m_spinCanaryCount.setRange(kCanaryCountSetting.minimum, kCanaryCountSetting.maximum);
    m_spinStopAfterFailures.setRange(kStopAfterFailuresSetting.minimum,
                                     kStopAfterFailuresSetting.maximum);

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
    auto* summary = new QHBoxLayout;
    summary->addWidget(&m_staticSummary, 1);
    summary->addWidget(&m_btnStopAfterDevicesInProgress);
    layout->addLayout(summary);
    layout->addWidget(&m_staticRolloutStatus);
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
    connect(&m_spinCanaryCount, &QSpinBox::valueChanged, this,
            [](int devices) { kCanaryCountSetting.Remember(devices); });
    connect(&m_spinStopAfterFailures, &QSpinBox::valueChanged, this,
            [](int failures) { kStopAfterFailuresSetting.Remember(failures); });
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
    // With a first wave and no stop setting the first failure stops the rewrite: the boxes say
    // so, as "Never" alone would not.
    m_spinCanaryCount.setToolTip(UIText(L"FSTR-0322"));
    m_spinStopAfterFailures.setToolTip(UIText(L"FSTR-0323"));
    m_btnStopAfterDevicesInProgress.setText(UIText(L"FSTR-0324"));
    m_btnStopAfterDevicesInProgress.setToolTip(UIText(L"FSTR-0325"));
    m_btnStopAfterDevicesInProgress.setAccessibleDescription(UIText(L"FSTR-0325"));
    m_spinCanaryCount.setAccessibleDescription(m_spinCanaryCount.toolTip());
    m_spinStopAfterFailures.setAccessibleDescription(m_spinStopAfterFailures.toolTip());
    SetAccessibleText(m_list, m_strTitle);
    SetAccessibleText(m_groupDowngrade, m_strGroupTitle);
    for (QRadioButton* radio : {&m_radioAsk, &m_radioSkip, &m_radioRewrite}) {
        SetAccessibleText(*radio, radio->text());
    }
    SetAccessibleText(m_spinDevicesAtATime, m_staticDevicesAtATime.text());
    SetAccessibleText(m_btnStopAfterDevicesInProgress, m_btnStopAfterDevicesInProgress.text());
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
    const std::optional<int> remembered = kDevicesAtATimeSetting.Remembered();
    // What the operator chose last time wins; otherwise the engine's own start value, which
    // the environment may have set.
    const int devices = remembered.value_or(settings != nullptr ? settings->GetDevicesAtATime()
                                                                : kDevicesAtATimeSetting.minimum);
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
    m_spinCanaryCount.setValue(kCanaryCountSetting.Remembered().value_or(0));
    m_spinStopAfterFailures.setValue(kStopAfterFailuresSetting.Remembered().value_or(0));
    // Only the engine's settings can stop a rewrite.
    m_spinStopAfterFailures.setEnabled(Frame().Engine().Settings() != nullptr);
}

void CUpdatePage::OnDevicesAtATimeChanged(int devices) {
    kDevicesAtATimeSetting.Remember(devices);
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
    UpdateData(true);
    // A refusal leaves the engine's own values; the job then works with those.
    ApplyDevicesAtATime();
    std::vector<std::wstring> hosts;
    m_sessionRows.clear();
    for (int row = 0; row < m_list.RowCount(); ++row) {
        if (m_list.IsChecked(row)) {
            hosts.push_back(ToWString(m_list.Text(row, 0)));
            m_sessionRows.push_back(row);
        }
    }
    m_staticRolloutStatus.clear();
    m_staticRolloutStatus.setVisible(false);
    m_bCloseWhenFinished = false;
    // Locked from here: the image may load before the first job starts.
    EnableControls(false);
    const bool started = m_runner.Start(
        CSessionRunner::EKind::RewriteTested, kDowngradePolicies[m_nDowngradeChoice],
        RolloutOptions(), hosts, [this](const std::wstring& host) { return AskDowngrade(host); });
    if (!started) {
        ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
        EnableControls(true);
        Frame().UpdateButton().setFocus();
    }
    return started;
}

tv::SRolloutOptions CUpdatePage::RolloutOptions() const {
    tv::SRolloutOptions options;
    if (CanaryCount() > 0) {
        // The devices after the first wave form the last one.
        options.waves.push_back({CanaryCount(), false});
    }
    if (StopAfterFailures() > 0) {
        options.maxFailures = tv::SDeviceShare{StopAfterFailures(), false};
    }
    return options;
}

void CUpdatePage::OnRewriteStarted() {
    m_running.resize(m_sessionRows.size());
    for (std::size_t i = 0; i < m_running.size(); ++i) {
        m_running[i] = static_cast<int>(i);
    }
    m_list.Rows().BeginJob();
    m_bAnyFailed = false;
    m_nDone = 0;
    m_nFailed = 0;
    m_elapsed.start();
    m_btnStopAfterDevicesInProgress.setEnabled(true);
    m_btnStopAfterDevicesInProgress.setVisible(true);
    ShowSummary();
}

void CUpdatePage::OnDeviceEnded(int index) {
    const tv::SDeviceReport& device =
        m_runner.Session()->Devices()[static_cast<std::size_t>(index)].report;
    const int row = m_sessionRows[static_cast<std::size_t>(index)];
    // Whatever the outcome, the row shows what the device reported last: after a failed or
    // unconfirmed rewrite the operator must see which firmware it really runs.
    FillVersionColumns(row);
    m_list.SetText(row, kProgressColumn, ToQString(device.result));
    m_list.Rows().EndRow(row, RowOutcome(device), device.resultCode);
    // "No need to rewrite" counts as done; a skipped newer device as failed, as the closing
    // message has always taken it.
    if (device.outcome == tv::kExitRewritten || device.outcome == tv::kExitSameVersion) {
        ++m_nDone;
    } else {
        m_bAnyFailed = true;
        ++m_nFailed;
    }
}

void CUpdatePage::OnPolled() {
    // Rows that have ended never change again, so each poll reads only the others, and the
    // list repaints only the cells whose text changed.
    const auto& devices = m_runner.Session()->Devices();
    std::erase_if(m_running, [this, &devices](int index) {
        if (devices[static_cast<std::size_t>(index)].ended) {
            return true;
        }
        const int row = m_sessionRows[static_cast<std::size_t>(index)];
        const int progress = DeviceProgress(Frame().Engine().Model(), m_list, row);
        // An end, or a question, is the session's to take; the row keeps what it showed.
        if (!tv::HasEnded(progress) && !tv::IsAwaitingAnswer(progress)) {
            ShowProgress(row, progress);
        }
        return false;
    });
    ShowSummary();
}

void CUpdatePage::OnRewriteFinished() {
    const tv::CRunSession& session = *m_runner.Session();
    m_btnStopAfterDevicesInProgress.setVisible(false);
    if (m_bCloseWhenFinished) {
        // Asked to stop and close: the rows are final, the records written; nobody waits for a
        // closing message.
        m_listTools.JobEnded(session.Reports());
        EnableControls(true);
        Frame().done(QDialog::Rejected);
        return;
    }
    if (!m_runner.JobStarted()) {
        // The image could not be loaded, or the engine refused the rewrite.
        ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
        EnableControls(true);
        Frame().UpdateButton().setFocus();
        return;
    }
    ShowSummary();
    if (session.StoppedByRule()) {
        m_staticRolloutStatus.setText(
            UIText(L"STR-320").arg(QString::number(session.CountedFailures())));
        m_staticRolloutStatus.setVisible(true);
    }
    m_list.FitColumnsToContents();
    m_listTools.JobEnded(session.Reports());
    if (m_bAnyFailed) {
        ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
    } else {
        ShowWizardMessage(this, L"MSG-202", QMessageBox::Information);
    }
    EnableControls(true);
    Frame().UpdateButton().setFocus();
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
    if (phase.isEmpty() && percentage == 0) {
        // Not reached by the job yet: no bar, only the word.
        m_list.SetText(row, kProgressColumn, PhaseText(phase, percentage));
        return;
    }
    m_list.Rows().SetProgress(row, kProgressColumn, percentage, PhaseText(phase, percentage));
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
    const int waiting = static_cast<int>(m_sessionRows.size()) - m_nDone - m_nFailed;
    m_staticSummary.setText(
        SummaryText(m_nDone, m_nFailed, waiting, m_elapsed.isValid() ? m_elapsed.elapsed() : 0));
}

bool CUpdatePage::StopAfterDevicesInProgress(bool closeWhenDone) {
    if (!m_runner.IsRunning()) {
        return false;
    }
    m_bCloseWhenFinished = m_bCloseWhenFinished || closeWhenDone;
    m_btnStopAfterDevicesInProgress.setEnabled(false);
    m_staticRolloutStatus.setText(UIText(L"FSTR-0325"));
    m_staticRolloutStatus.setVisible(true);
    m_runner.Drain();  // may end the session at once, when nothing was in progress
    return true;
}

void CUpdatePage::OnCloseRefused() {
    if (!m_runner.IsRunning() || m_bCloseWhenFinished) {
        return;
    }
    if (ShowWizardMessage(this, L"MSG-205", QMessageBox::Question,
                          QMessageBox::Yes | QMessageBox::No,
                          QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    if (!StopAfterDevicesInProgress(true)) {
        Frame().close();  // it ended while the question was open: nothing holds the window now
    }
}

bool CUpdatePage::DrainAndClose() {
    return StopAfterDevicesInProgress(true);
}

bool CUpdatePage::AskDowngrade(const std::wstring& host) {
    // The operator must see which device asks before answering for it.
    if (const int row = m_list.FindRow(ToQString(host)); row >= 0) {
        m_listTools.RevealRow(row);
    }
    return ShowWizardMessage(this, L"MSG-201", QMessageBox::Question,
                             QMessageBox::Yes | QMessageBox::No,
                             QMessageBox::No) == QMessageBox::Yes;
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
