#include "WizardDriver.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <algorithm>

#include "tool/app/CUIStringTable.h"
#include "tool/wizard/UserSettings.h"

namespace wizardtest {

namespace {

constexpr int kPollMs = 5;

}  // namespace

ModalAnswerer::ModalAnswerer() {
    poll.setInterval(kPollMs);
    connect(&poll, &QTimer::timeout, this, &ModalAnswerer::Poll);
    poll.start();
}

ModalAnswerer::~ModalAnswerer() = default;

void ModalAnswerer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal); box != nullptr && box->isVisible()) {
        SeenMessage seen;
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        if (QPushButton* def = box->defaultButton()) {
            seen.defaultButton = box->standardButton(def);
        }
        if (whileOpen) {
            whileOpen(*box);
        }
        QAbstractButton* press = nullptr;
        if (!answers.empty()) {
            seen.pressed = answers.front();
            answers.pop_front();
            press = box->button(seen.pressed);
        }
        if (press == nullptr) {
            ++unexpected;
            ADD_FAILURE() << "unexpected or unanswerable message box: " << seen.text.toStdString();
            press = box->escapeButton() != nullptr ? box->escapeButton() : box->buttons().value(0);
        }
        messages.push_back(seen);
        press->click();
        return;
    }
    if (auto* dialog = qobject_cast<QFileDialog*>(modal);
        dialog != nullptr && dialog->isVisible()) {
        fileDialogs.push_back(
            {dialog->nameFilters(), dialog->directory().absolutePath(), dialog->selectedFiles()});
        const QString path = files.empty() ? QString() : files.front();
        if (!files.empty()) {
            files.pop_front();
        }
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");  // the Open button
        }
    }
}

bool ModalAnswerer::WaitForMessages(std::size_t count, int timeoutMs) {
    return WaitFor([&] { return messages.size() >= count; }, timeoutMs);
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

QString Text(const wchar_t* key) {
    return QString::fromStdWString(talbo::tesk::vorta::CUIStringTable::GetInstance().GetText(key));
}

std::vector<QStringList> ReadCsv(const QString& path) {
    QFile file(path);
    std::vector<QStringList> lines;
    if (!file.open(QIODevice::ReadOnly)) {
        return lines;
    }
    const QString text = QString::fromUtf8(file.readAll());
    for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        lines.push_back(line.split(QLatin1Char(',')));
    }
    return lines;
}

void WizardTest::ShowWizard(WizardEngineAccess engine) {
    dialog = std::make_unique<CVortaFWUpdateToolUIDlg>(std::move(engine));
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
}

void WizardTest::TearDown() {
    dialog.reset();
    // Every test opens its wizard where a first run would.
    UserSettings().remove(QStringLiteral("window/geometry"));
    EXPECT_EQ(answerer.unexpected, 0);
}

void WizardTest::Click(QAbstractButton& button) {
    // Near the left edge: a radio button reacts only on its indicator and text, not on the empty
    // rest of its row.
    const QPoint at(std::min(10, button.width() / 2), button.height() / 2);
    QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, at);
}

void WizardTest::GoToDevicePage() {
    Click(dialog->EulaPage().AcceptButton());
    Click(dialog->NextButton());
    ASSERT_EQ(dialog->CurrentPage(), 1);
}

void WizardTest::GoToUpdatePage() {
    Click(dialog->NextButton());
    ASSERT_EQ(dialog->CurrentPage(), 2);
}

void WizardTest::AddDevice(const QString& name) {
    DevicePage().NameEntry().setText(name);
    Click(DevicePage().AddButton());
}

void WizardTest::SetRowChecked(CDeviceListView& list, int row, bool checked) {
    // What the list's delegate does on a click on the check box.
    CDeviceListModel& rows = list.Rows();
    rows.setData(rows.index(row, 0), checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

void WizardTest::PressSpaceOnRow(CDeviceListView& list, int row) {
    list.setFocus();
    list.setCurrentIndex(list.ViewIndex(row, 0));
    QTest::keyClick(&list, Qt::Key_Space);
}

QStringList WizardTest::ShownHosts(const CDeviceListView& list) {
    QStringList hosts;
    for (int row = 0; row < list.ShownRowCount(); ++row) {
        hosts.append(list.model()->index(row, 0).data().toString());
    }
    return hosts;
}

void WizardTest::ExpectReadableWithLockedChecks(CDeviceListView& list) {
    EXPECT_TRUE(list.isEnabled());
    ASSERT_GT(list.RowCount(), 0);
    const QModelIndex first = list.Rows().index(0, 0);
    EXPECT_TRUE(list.Rows().flags(first).testFlag(Qt::ItemIsEnabled));
    EXPECT_FALSE(list.Rows().flags(first).testFlag(Qt::ItemIsUserCheckable));
    const bool before = list.IsChecked(0);
    SetRowChecked(list, 0, !before);
    EXPECT_EQ(list.IsChecked(0), before);
    PressSpaceOnRow(list, 0);
    EXPECT_EQ(list.IsChecked(0), before);
}

}  // namespace wizardtest
