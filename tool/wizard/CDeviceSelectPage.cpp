#include "tool/wizard/CDeviceSelectPage.h"

#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <optional>
#include <string>
#include <vector>

#include "common/DeviceListFile.h"
#include "common/HostName.h"
#include "engine/interface/ResultCodes.h"
#include "tool/app/CFilePath.h"
#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"
#include "tool/wizard/DeviceListReport.h"
#include "tool/wizard/DeviceNaming.h"
#include "tool/wizard/DeviceProgress.h"
#include "tool/wizard/DeviceRows.h"
#include "tool/wizard/FileDialogFilter.h"
#include "tool/wizard/PageStyle.h"
#include "tool/wizard/WizardMessageBox.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;

namespace {

constexpr int kModelColumn = 1;
constexpr int kVersionColumn = 2;
constexpr int kResultColumn = 3;

}  // namespace

CDeviceSelectPage::CDeviceSelectPage(CVortaFWUpdateToolUIDlg& frame)
    : CWizardPage(frame),
      m_editName(this),
      m_btnAdd(this),
      m_editFile(this),
      m_btnBrowse(this),
      m_list(this),
      m_listTools(m_list, this),
      m_btnTest(this),
      m_runner(frame.Engine(), this),
      m_staticTitle(this),
      m_staticNameLabel(this),
      m_staticFileLabel(this) {
    setObjectName(QStringLiteral("devicePage"));
    BuildLayout();
    connect(&m_runner, &CSessionRunner::jobStarted, this, &CDeviceSelectPage::OnTestStarted);
    connect(&m_runner, &CSessionRunner::deviceEnded, this, &CDeviceSelectPage::OnDeviceEnded);
    connect(&m_runner, &CSessionRunner::polled, this, &CDeviceSelectPage::OnPolled);
    connect(&m_runner, &CSessionRunner::finished, this, &CDeviceSelectPage::OnTestFinished);
    connect(&m_btnAdd, &QPushButton::clicked, this, &CDeviceSelectPage::OnAddDevice);
    connect(&m_btnBrowse, &QPushButton::clicked, this, &CDeviceSelectPage::OnBrowseDeviceList);
    connect(&m_btnTest, &QPushButton::clicked, this, &CDeviceSelectPage::OnAccessTest);
    connect(&m_list, &CDeviceListView::checkChanged, this,
            &CDeviceSelectPage::OnDeviceListItemChanged);
}

CDeviceSelectPage::~CDeviceSelectPage() = default;

void CDeviceSelectPage::BuildLayout() {
    m_editName.setObjectName(QStringLiteral("deviceName"));
    m_editFile.setObjectName(QStringLiteral("importFile"));
    m_btnAdd.setObjectName(QStringLiteral("add"));
    m_btnBrowse.setObjectName(QStringLiteral("browse"));
    m_btnTest.setObjectName(QStringLiteral("accessTest"));
    m_list.setObjectName(QStringLiteral("deviceList"));
    StyleHeading(m_staticTitle);
    m_staticNameLabel.setBuddy(&m_editName);
    m_staticFileLabel.setBuddy(&m_btnBrowse);
    m_editFile.setReadOnly(true);
    const int buttonWidth = DialogUnitsX(*this, 60);
    for (QPushButton* button : {&m_btnAdd, &m_btnBrowse, &m_btnTest}) {
        button->setAutoDefault(false);
        button->setMinimumWidth(buttonWidth);
    }

    auto* entries = new QGridLayout;
    entries->setHorizontalSpacing(DialogUnitsX(*this, 6));
    entries->addWidget(&m_staticNameLabel, 0, 0, 1, 2);
    entries->addWidget(&m_editName, 1, 0);
    entries->addWidget(&m_btnAdd, 1, 1);
    entries->setRowMinimumHeight(2, DialogUnitsY(*this, 6));
    entries->addWidget(&m_staticFileLabel, 3, 0, 1, 2);
    entries->addWidget(&m_editFile, 4, 0);
    entries->addWidget(&m_btnBrowse, 4, 1);
    entries->setColumnStretch(0, 1);

    auto* test = new QHBoxLayout;
    test->addWidget(&m_listTools);
    test->addStretch(1);
    test->addWidget(&m_btnTest);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(PageMargins(*this));
    layout->addWidget(&m_staticTitle);
    layout->addSpacing(DialogUnitsY(*this, 4));
    layout->addLayout(entries);
    layout->addSpacing(DialogUnitsY(*this, 4));
    layout->addWidget(&m_list, 1);
    layout->addLayout(test);
}

bool CDeviceSelectPage::OnInitDialog() {
    InitTexts();
    return false;
}

void CDeviceSelectPage::InitTexts() {
    m_strTitle = UIText(L"FSTR-0200");
    m_strNameLabel = UIText(L"FSTR-0201");
    m_btnAdd.setText(UIText(L"FSTR-0202"));
    m_strFileLabel = UIText(L"FSTR-0203");
    m_btnBrowse.setText(UIText(L"FSTR-0204"));
    m_btnTest.setText(UIText(L"FSTR-0209"));
    SetAccessibleText(m_editName, UIText(L"FSTR-0201"));
    SetAccessibleText(m_editFile, UIText(L"FSTR-0203"));
    SetAccessibleText(m_btnAdd, m_btnAdd.text());
    SetAccessibleText(m_btnBrowse, m_btnBrowse.text());
    SetAccessibleText(m_btnTest, m_btnTest.text());
    SetAccessibleText(m_list, UIText(L"FSTR-0200"));
    m_listTools.InitTexts();
    m_list.SetColumns(
        {UIText(L"FSTR-0205"), UIText(L"FSTR-0206"), UIText(L"FSTR-0207"), UIText(L"FSTR-0208")},
        {120, 120, 120});
    UpdateData(false);
}

void CDeviceSelectPage::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strDeviceName = m_editName.text();
        m_strImportFile = m_editFile.text();
        return;
    }
    m_staticTitle.setText(m_strTitle);
    m_staticNameLabel.setText(m_strNameLabel);
    m_staticFileLabel.setText(m_strFileLabel);
    m_editName.setMaxLength(kMaxNameLength);
    m_editName.setText(m_strDeviceName);
    m_editFile.setText(m_strImportFile);
}

bool CDeviceSelectPage::OnSetActive() {
    Frame().NextButton().setEnabled(m_list.RowCount() > 0);
    SyncCheckStates();
    m_editName.setFocus();
    return true;
}

void CDeviceSelectPage::OnAddDevice() {
    UpdateData(true);
    const std::wstring name = ToWString(m_strDeviceName);
    if (const std::optional<QString> numeric = NumericSpellingText(name)) {
        ShowWizardMessage(this, *numeric, QMessageBox::Critical);
        return;
    }
    tv::CUpdateModelExport* model = Frame().Engine().Model();
    if (model == nullptr || !tv::common::IsValidHostName(name)) {
        ShowWizardMessage(this, L"MSG-100", QMessageBox::Critical);
        return;
    }
    CDeviceSpellings spellings(*model);
    const std::wstring* known = spellings.Find(name);
    if (known != nullptr && *known != name) {
        ShowWizardMessage(this, UIText(L"STR-330").arg(m_strDeviceName, ToQString(*known)),
                          QMessageBox::Warning);
        return;
    }
    if (known == nullptr && !spellings.Register(name)) {
        ShowWizardMessage(this, L"MSG-100", QMessageBox::Critical);
        return;
    }
    RefreshDeviceList();
    Frame().NextButton().setEnabled(true);
}

void CDeviceSelectPage::OnBrowseDeviceList() {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("deviceListFileDialog"));
    dialog.setWindowTitle(UIText(L"FSTR-0000"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(ToQtNameFilters(UIText(L"STR-000")));
    dialog.setDirectory(QFile::decodeName(tv::CFilePath::ExecutablePath().parent_path().c_str()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    m_strImportFile = dialog.selectedFiles().constFirst();
    const tv::common::OperatorDeviceList list =
        tv::common::ReadOperatorDeviceList(QFile::encodeName(m_strImportFile).toStdString());
    tv::CUpdateModelExport* model = Frame().Engine().Model();
    if (model == nullptr || !list.Accepted()) {
        // A file refused for a numeric spelling says where and why; any other as ever.
        const std::optional<QString> numeric =
            list.badLine != 0 ? NumericSpellingText(list.badName) : std::nullopt;
        ShowWizardMessage(this,
                          numeric ? UIText(L"STR-335").arg(QString::number(list.badLine), *numeric)
                                  : UIText(L"MSG-101"),
                          QMessageBox::Critical);
        UpdateData(true);
        return;
    }
    QStringList dropped;
    if (!RegisterListNames(*model, list.names, dropped)) {
        RefreshDeviceList();  // the rows show whatever the engine took before it refused
        Frame().NextButton().setEnabled(m_list.RowCount() > 0);
        ShowWizardMessage(this, L"MSG-101", QMessageBox::Critical);
        UpdateData(true);
        return;
    }
    RefreshDeviceList();
    m_list.FitColumnsToContents();
    Frame().NextButton().setEnabled(true);
    UpdateData(false);
    if (!dropped.isEmpty()) {
        ShowWizardMessage(this, DroppedNamesText(dropped), QMessageBox::Warning);
    }
}

void CDeviceSelectPage::RefreshDeviceList() {
    if (tv::CUpdateModelExport* model = Frame().Engine().Model()) {
        RefreshDeviceRows(*model, Frame().DeviceRecords(), m_list, {L"modelname", L"version"},
                          ECheckSync::CheckOnly);
    }
}

void CDeviceSelectPage::SyncCheckStates() {
    if (tv::CUpdateModelExport* model = Frame().Engine().Model()) {
        SyncDeviceChecks(*model, Frame().DeviceRecords(), m_list);
    }
}

void CDeviceSelectPage::OnDeviceListItemChanged(int row, bool checked) {
    if (tv::CUpdateModelExport* model = Frame().Engine().Model()) {
        model->SetUpdateTarget(ToWString(m_list.Text(row, 0)).c_str(), checked);
    }
}

void CDeviceSelectPage::OnAccessTest() {
    if (m_list.FirstCheckedRow() < 0) {
        ShowWizardMessage(this, L"MSG-104", QMessageBox::Information);
        return;
    }
    std::vector<std::wstring> hosts;
    m_sessionRows.clear();
    for (int row = 0; row < m_list.RowCount(); ++row) {
        if (m_list.IsChecked(row)) {
            hosts.push_back(ToWString(m_list.Text(row, 0)));
            m_sessionRows.push_back(row);
        }
    }
    m_bAnyFailed = false;
    // A test rewrites nothing, so the downgrade policy plays no part.
    if (!m_runner.Start(CSessionRunner::EKind::TestOnly, L"skip", {}, hosts)) {
        ShowWizardMessage(this, L"MSG-103", QMessageBox::Critical);
    }
}

void CDeviceSelectPage::OnTestStarted() {
    m_running.resize(m_sessionRows.size());
    for (std::size_t i = 0; i < m_running.size(); ++i) {
        m_running[i] = static_cast<int>(i);
    }
    m_list.Rows().BeginJob();
    EnableControls(false);
}

void CDeviceSelectPage::OnDeviceEnded(int index) {
    const tv::SDeviceReport& device =
        m_runner.Session()->Devices()[static_cast<std::size_t>(index)].report;
    const int row = m_sessionRows[static_cast<std::size_t>(index)];
    const QString result = ToQString(device.result);
    if (tv::IsSuccess(device.resultCode)) {
        ShowTestSuccess(row, result);
    } else {
        // A failed device keeps the model and version it showed before.
        m_list.SetText(row, kResultColumn, result);
        m_bAnyFailed = true;
    }
    m_list.Rows().EndRow(row, RowOutcome(device), device.resultCode);
}

void CDeviceSelectPage::OnPolled() {
    // Only the devices still running are read, so a poll costs what is moving, not the fleet.
    const auto& devices = m_runner.Session()->Devices();
    std::erase_if(m_running, [this, &devices](int index) {
        if (devices[static_cast<std::size_t>(index)].ended) {
            return true;
        }
        const int row = m_sessionRows[static_cast<std::size_t>(index)];
        const int progress = DeviceProgress(Frame().Engine().Model(), m_list, row);
        // 0 until the test reaches the device; an end shows when the session takes it.
        if (progress > 0 && !tv::HasEnded(progress)) {
            m_list.Rows().SetProgress(row, kResultColumn, progress, QString());
        }
        return false;
    });
}

void CDeviceSelectPage::OnTestFinished() {
    if (!m_runner.JobStarted()) {
        ShowWizardMessage(this, L"MSG-103", QMessageBox::Critical);
        return;
    }
    m_list.FitColumnsToContents();
    m_listTools.JobEnded(m_runner.Session()->Reports());
    if (m_bAnyFailed) {
        ShowWizardMessage(this, L"MSG-103", QMessageBox::Critical);
    } else {
        ShowWizardMessage(this, L"MSG-102", QMessageBox::Information);
    }
    EnableControls(true);
}

void CDeviceSelectPage::ShowTestSuccess(int row, const QString& result) {
    if (tv::CDevInfoIF* device = DeviceRecord(Frame().Engine().Model(), m_list, row)) {
        if (const auto modelName = DeviceValue(device, L"modelname")) {
            m_list.SetText(row, kModelColumn, *modelName);
        }
        if (const auto version = DeviceValue(device, L"version")) {
            m_list.SetText(row, kVersionColumn, *version);
        }
    }
    m_list.SetText(row, kResultColumn, result);
}

void CDeviceSelectPage::EnableControls(bool enable) {
    CVortaFWUpdateToolUIDlg& frame = Frame();
    frame.BackButton().setEnabled(enable);
    frame.NextButton().setEnabled(enable);
    frame.CancelButton().setEnabled(enable);
    frame.SetCloseEnabled(enable);
    // The list stays readable and scrollable while the test runs; only its check boxes lock.
    m_list.Rows().SetChecksLocked(!enable);
    m_listTools.SetLocked(!enable);
    for (QWidget* control : std::initializer_list<QWidget*>{&m_btnAdd, &m_btnBrowse, &m_btnTest,
                                                            &m_editName, &m_editFile}) {
        control->setEnabled(enable);
    }
}
