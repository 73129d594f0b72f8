#include "tool/wizard/CUpdatePage.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <system_error>

#include "tool/app/CFilePath.h"
#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"
#include "tool/wizard/PageStyle.h"
#include "tool/wizard/WizardMessageBox.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;

namespace {

constexpr int kPollIntervalMs = 250;
// Progress the engine reports while it waits for the answer to the downgrade question.
constexpr int kDowngradeInquiry = -15;
// "no need to rewrite": a success.
constexpr int kSameVersion = -2;

// The downgrade policy handed to the engine for each choice, in the order of the radios.
const wchar_t* const kDowngradePolicies[] = {L"inquiry", L"skip", L"update"};

}  // namespace

CUpdatePage::CUpdatePage(CVortaFWUpdateToolUIDlg& frame)
    : CWizardPage(frame),
      m_list(this),
      m_groupDowngrade(this),
      m_radioAsk(this),
      m_radioSkip(this),
      m_radioRewrite(this),
      m_staticTitle(this),
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
    StyleHeading(m_staticTitle);
    m_downgradeChoices.addButton(&m_radioAsk, 0);
    m_downgradeChoices.addButton(&m_radioSkip, 1);
    m_downgradeChoices.addButton(&m_radioRewrite, 2);

    auto* choices = new QVBoxLayout(&m_groupDowngrade);
    choices->addWidget(&m_radioAsk);
    choices->addWidget(&m_radioSkip);
    choices->addWidget(&m_radioRewrite);
    m_groupDowngrade.setMinimumWidth(DialogUnitsX(*this, 220));

    auto* group = new QHBoxLayout;
    group->addWidget(&m_groupDowngrade);
    group->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(PageMargins(*this));
    layout->addWidget(&m_staticTitle);
    layout->addSpacing(DialogUnitsY(*this, 4));
    layout->addWidget(&m_list, 1);
    layout->addSpacing(DialogUnitsY(*this, 4));
    layout->addLayout(group);
}

bool CUpdatePage::OnInitDialog() {
    InitTexts();
    m_radioAsk.setChecked(true);
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

bool CUpdatePage::OnSetActive() {
    RefreshUpdateList();
    return true;
}

void CUpdatePage::RefreshUpdateList() {
    tv::CUpdateModelExport* model = Frame().Engine().Model();
    if (model == nullptr) {
        return;
    }
    tv::CHostNameIterator names = model->GetHostNameIterator();
    int row = 0;
    for (const wchar_t* name = names.Current(); name != nullptr; name = names.Next().Current()) {
        if (tv::CDevInfoIF* device = model->GetDeviceInfo(name)) {
            const QString host =
                DeviceValue(device, L"hostname").value_or(QString::fromWCharArray(name));
            if (m_list.FindRow(host) < 0) {
                m_list.InsertRow(row, {host, DeviceValue(device, L"modelname").value_or(QString()),
                                       DeviceValue(device, L"version").value_or(QString()),
                                       DeviceValue(device, L"afterversion").value_or(QString())});
            }
            m_list.SetChecked(row, DeviceValue(device, L"update") == QStringLiteral("true"));
        }
        ++row;
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
    tv::CUpdateControllerExport* controller = Frame().Engine().Controller();
    if (controller != nullptr && controller->StartUpdate(kDowngradePolicies[m_nDowngradeChoice])) {
        m_nNextRow = 0;
        m_bAnyFailed = false;
        EnableControls(false);
        m_timer.start(kPollIntervalMs);
        return true;
    }
    ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
    EnableControls(true);
    return false;
}

void CUpdatePage::OnTimer() {
    for (int row = m_nNextRow; row < m_list.RowCount(); ++row) {
        if (!PollUpdateResult(row)) {
            break;
        }
    }
    if (m_nNextRow < m_list.RowCount()) {
        return;
    }
    m_timer.stop();
    if (m_bAnyFailed) {
        ShowWizardMessage(this, L"MSG-203", QMessageBox::Critical);
    } else {
        ShowWizardMessage(this, L"MSG-202", QMessageBox::Information);
    }
    EnableControls(true);
    Frame().UpdateButton().setFocus();
}

bool CUpdatePage::PollUpdateResult(int row) {
    tv::CUpdateModelExport* model = Frame().Engine().Model();
    const std::wstring host = ToWString(m_list.Text(row, 0));
    const int progress = model != nullptr ? model->GetProgress(host.c_str()) : -1;
    if (!m_list.IsChecked(row)) {
        ++m_nNextRow;
        return true;
    }
    if (progress == 100) {
        ShowUpdateSuccess(row);
        return true;
    }
    if (progress == kDowngradeInquiry) {
        AskDowngrade();
        return false;
    }
    if (progress < 0) {
        ShowUpdateResult(row, progress);
        return true;
    }
    ShowProgress(row, progress);
    return false;
}

QString CUpdatePage::ProgressText(int percentage) {
    return QString::asprintf("%3d%%", percentage);
}

void CUpdatePage::ShowProgress(int row, int percentage) {
    m_list.SetText(row, 4, ProgressText(percentage));
}

void CUpdatePage::ShowUpdateSuccess(int row) {
    FillVersionColumns(row);
    m_list.SetText(row, 4, UIText(L"STR-001"));
    ++m_nNextRow;
}

void CUpdatePage::ShowUpdateResult(int row, int resultCode) {
    m_list.SetText(row, 4, UIResultText(resultCode));
    ++m_nNextRow;
    // Whatever the outcome, the row shows what the device reported last: after a failed or
    // unconfirmed rewrite the operator must see which firmware it really runs.
    FillVersionColumns(row);
    if (resultCode != kSameVersion) {
        m_bAnyFailed = true;
    }
}

void CUpdatePage::FillVersionColumns(int row) {
    tv::CUpdateModelExport* model = Frame().Engine().Model();
    tv::CDevInfoIF* device =
        model != nullptr ? model->GetDeviceInfo(ToWString(m_list.Text(row, 0)).c_str()) : nullptr;
    if (device == nullptr) {
        return;
    }
    const wchar_t* const keys[] = {L"modelname", L"version", L"afterversion"};
    for (int column = 1; column <= 3; ++column) {
        if (const auto value = DeviceValue(device, keys[column - 1])) {
            m_list.SetText(row, column, *value);
        }
    }
}

void CUpdatePage::AskDowngrade() {
    m_timer.stop();
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
    for (QWidget* control :
         std::initializer_list<QWidget*>{&m_list, &m_radioAsk, &m_radioSkip, &m_radioRewrite}) {
        control->setEnabled(enable);
    }
}
