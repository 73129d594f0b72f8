#include "tool/wizard/CDeviceListTools.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QSignalBlocker>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <utility>

#include "tool/wizard/DialogUnits.h"
#include "tool/wizard/FileDialogFilter.h"
#include "tool/wizard/WizardMessageBox.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;

namespace {

// The filters in the order of the box's entries.
constexpr EListFilter kFilters[] = {EListFilter::All, EListFilter::Failed, EListFilter::Unfinished};

}  // namespace

CDeviceListTools::CDeviceListTools(CDeviceListView& list, QWidget* parent)
    : QWidget(parent),
      m_list(list),
      m_staticFilter(this),
      m_comboFilter(this),
      m_btnCheckFailed(this),
      m_btnSaveReport(this) {
    m_comboFilter.setObjectName(QStringLiteral("listFilter"));
    m_btnCheckFailed.setObjectName(QStringLiteral("checkFailedOnly"));
    m_btnSaveReport.setObjectName(QStringLiteral("saveReport"));
    m_staticFilter.setBuddy(&m_comboFilter);
    m_comboFilter.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (QPushButton* button : {&m_btnCheckFailed, &m_btnSaveReport}) {
        button->setAutoDefault(false);
    }

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(&m_staticFilter);
    layout->addWidget(&m_comboFilter);
    layout->addSpacing(DialogUnitsX(*this, 4));
    layout->addWidget(&m_btnCheckFailed);
    layout->addWidget(&m_btnSaveReport);
    // In a wide window the row keeps its controls together at its start.
    layout->addStretch(1);

    connect(&m_comboFilter, &QComboBox::currentIndexChanged, this,
            &CDeviceListTools::OnFilterChosen);
    connect(&m_btnCheckFailed, &QPushButton::clicked, this, &CDeviceListTools::CheckFailedOnly);
    connect(&m_btnSaveReport, &QPushButton::clicked, this, &CDeviceListTools::SaveReport);
    RefreshButtons();
}

void CDeviceListTools::InitTexts() {
    m_staticFilter.setText(UIText(L"FSTR-0118"));
    {
        const QSignalBlocker quiet(m_comboFilter);
        const int chosen = std::max(0, m_comboFilter.currentIndex());
        m_comboFilter.clear();
        m_comboFilter.addItems({UIText(L"FSTR-0119"), UIText(L"FSTR-0120"), UIText(L"FSTR-0121")});
        m_comboFilter.setCurrentIndex(chosen);
    }
    m_btnCheckFailed.setText(UIText(L"FSTR-0122"));
    m_btnSaveReport.setText(UIText(L"FSTR-0123"));
    SetAccessibleText(m_comboFilter, m_staticFilter.text());
    // The list the box pops up is an object of its own for assistive technologies.
    SetAccessibleText(*m_comboFilter.view(), m_staticFilter.text());
    SetAccessibleText(m_btnCheckFailed, m_btnCheckFailed.text());
    SetAccessibleText(m_btnSaveReport, m_btnSaveReport.text());
}

void CDeviceListTools::SetLocked(bool locked) {
    m_bLocked = locked;
    RefreshButtons();
}

void CDeviceListTools::JobEnded(std::vector<tv::SDeviceReport> report) {
    m_report = std::move(report);
    m_bJobEnded = true;
    RefreshButtons();
}

void CDeviceListTools::RefreshButtons() {
    bool anyFailed = false;
    const CDeviceListModel& rows = m_list.Rows();
    for (int row = 0; m_bJobEnded && !anyFailed && row < rows.RowCount(); ++row) {
        anyFailed = rows.Outcome(row) == CDeviceListModel::ERowOutcome::Failed;
    }
    m_btnCheckFailed.setEnabled(!m_bLocked && anyFailed);
    m_btnSaveReport.setEnabled(!m_bLocked && m_bJobEnded);
}

void CDeviceListTools::OnFilterChosen(int index) {
    if (index >= 0 && index < static_cast<int>(std::size(kFilters))) {
        m_list.SetFilter(kFilters[index]);
    }
}

void CDeviceListTools::RevealRow(int row) {
    if (!m_list.SelectRow(row)) {
        m_comboFilter.setCurrentIndex(0);
        m_list.SelectRow(row);
    }
}

void CDeviceListTools::CheckFailedOnly() {
    CDeviceListModel& rows = m_list.Rows();
    for (int row = 0; row < rows.RowCount(); ++row) {
        rows.SetChecked(row, rows.Outcome(row) == CDeviceListModel::ERowOutcome::Failed);
    }
}

void CDeviceListTools::SaveReport() {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("reportFileDialog"));
    dialog.setWindowTitle(UIText(L"FSTR-0000"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(ToQtNameFilters(UIText(L"FSTR-0124")));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QString::fromLatin1(kDefaultReportName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const std::filesystem::path path =
        QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
    int error = 0;
    if (!tv::WriteCsvReport(path, m_report, error)) {
        const QString reason = QString::fromStdString(std::generic_category().message(error));
        ShowWizardMessage(this, UIText(L"FSTR-0125").arg(reason), QMessageBox::Critical);
    }
}
