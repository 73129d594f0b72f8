// The device page: adding and importing devices, the check boxes as a view of the engine's
// "update" values, and the access test followed by polling.
#include <QHeaderView>
#include <QHelpEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <fstream>

#include "FakeEngine.h"
#include "WizardDriver.h"
#include "tool/app/CFilePath.h"

namespace wizardtest {
namespace {

class DevicePageTest : public WizardTest {
protected:
    void SetUp() override {
        ShowWizard(engine.Access());
        GoToDevicePage();
    }

    // A list file in a private folder.
    QString ListFile(const char* name, const std::string& content) {
        const QString path = folder.filePath(QString::fromLatin1(name));
        std::ofstream(path.toStdString(), std::ios::binary) << content;
        return path;
    }

    CDeviceListView& List() { return DevicePage().List(); }

    fake::Engine engine;
    QTemporaryDir folder;
};

TEST_F(DevicePageTest, AddedDeviceGetsOneCheckedRowAndEnablesNext) {
    AddDevice(QStringLiteral("dev1.example"));
    AddDevice(QStringLiteral("dev1.example"));  // already registered: no second row
    AddDevice(QStringLiteral("192.0.2.7"));
    ASSERT_EQ(List().RowCount(), 2);
    EXPECT_EQ(List().Text(0, 0), QStringLiteral("dev1.example"));
    EXPECT_EQ(List().Text(1, 0), QStringLiteral("192.0.2.7"));
    EXPECT_TRUE(List().IsChecked(0));
    EXPECT_TRUE(List().IsChecked(1));
    EXPECT_TRUE(Dlg().NextButton().isEnabled());
    EXPECT_EQ(DevicePage().NameEntry().text(), QStringLiteral("192.0.2.7"));
    EXPECT_TRUE(answerer.messages.empty());
}

// One device, one name: a spelling that differs only in letter case or a trailing dot names a
// device already in the list, and a second registration would let a job rewrite it twice.
TEST_F(DevicePageTest, NamesDifferingOnlyInCaseOrATrailingDotAreOneDevice) {
    AddDevice(QStringLiteral("Dev.example"));
    for (const QString& name : {QStringLiteral("dev.example"), QStringLiteral("DEV.EXAMPLE.")}) {
        SCOPED_TRACE(name.toStdString());
        answerer.Answer(QMessageBox::Ok);
        AddDevice(name);
        ASSERT_FALSE(answerer.messages.empty());
        EXPECT_EQ(answerer.messages.back().text,
                  name + QStringLiteral(" names the same device as Dev.example, which is already "
                                        "in the list. It was not added again."));
        EXPECT_EQ(answerer.messages.back().icon, QMessageBox::Warning);
    }
    AddDevice(QStringLiteral("third.example"));
    ASSERT_EQ(List().RowCount(), 2);
    EXPECT_EQ(List().Text(0, 0), QStringLiteral("Dev.example"));
    EXPECT_EQ(List().Text(1, 0), QStringLiteral("third.example"));
    EXPECT_EQ(engine.model.devices.size(), 2U);
    EXPECT_EQ(answerer.messages.size(), 2U);
}

// Names the tool cannot take: the character rule as ever, and an address the HTTP library
// would read as another number than it shows, with what it reads and what to write instead.
TEST_F(DevicePageTest, RefusedNamesShowWhyAndKeepTheEntry) {
    const QString invalid = QStringLiteral("Invalid device name\nInput correct device name.");
    const struct {
        QString name;
        QString says;
    } cases[] = {
        {QStringLiteral("bad_name"), invalid},
        {QStringLiteral("has blank"), invalid},
        {QString(), invalid},
        {QStringLiteral("127.0.0.010"),
         QStringLiteral("127.0.0.010 has a part with a leading zero, which is read as octal "
                        "(127.0.0.8). Write the address in plain decimal, as in 127.0.0.10.")},
        {QStringLiteral("0x7f.0.0.1"),
         QStringLiteral("0x7f.0.0.1 has a hexadecimal part, which is read as 127.0.0.1. Write the "
                        "address in plain decimal, as in 127.0.0.1.")},
        {QStringLiteral("127.1."),
         QStringLiteral("127.1. has fewer than four parts, which are read as 127.0.0.1. Write the "
                        "address in plain decimal, as in 127.0.0.1.")},
        {QStringLiteral("2130706433"),
         QStringLiteral("2130706433 is a single number, which is read as 127.0.0.1. Write the "
                        "address in plain decimal, as in 127.0.0.1.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        answerer.Answer(QMessageBox::Ok);
        AddDevice(c.name);
        ASSERT_FALSE(answerer.messages.empty());
        const SeenMessage& seen = answerer.messages.back();
        EXPECT_EQ(seen.text, c.says);
        EXPECT_EQ(seen.icon, QMessageBox::Critical);
        EXPECT_EQ(seen.buttons, QMessageBox::Ok);
        EXPECT_EQ(seen.caption, Text(L"FSTR-0000"));
        EXPECT_EQ(DevicePage().NameEntry().text(), c.name);
    }
    EXPECT_EQ(List().RowCount(), 0);
    EXPECT_TRUE(engine.model.devices.empty());
    EXPECT_FALSE(Dlg().NextButton().isEnabled());
}

TEST_F(DevicePageTest, NameEntryTakesAtMost254Characters) {
    QTest::keyClicks(&DevicePage().NameEntry(), QString(300, QLatin1Char('a')));
    EXPECT_EQ(DevicePage().NameEntry().text().size(), 254);
}

TEST_F(DevicePageTest, ImportOffersTheListFilterInTheProgramFolderAndAddsEveryName) {
    const QString good = ListFile("good.txt", "a.example\r\n\r\nb.example\r\n");
    answerer.ChooseFile(good);
    Click(DevicePage().BrowseButton());
    ASSERT_EQ(answerer.fileDialogs.size(), 1u);
    EXPECT_EQ(answerer.fileDialogs[0].nameFilters,
              QStringList{QStringLiteral("Device List File(*.txt)")});
    const auto exeDir = talbo::tesk::vorta::CFilePath::ExecutablePath().parent_path();
    EXPECT_EQ(answerer.fileDialogs[0].directory, QString::fromStdString(exeDir.string()));
    ASSERT_EQ(List().RowCount(), 2);
    EXPECT_EQ(List().Text(1, 0), QStringLiteral("b.example"));
    EXPECT_EQ(DevicePage().FileEntry().text(), good);
    EXPECT_TRUE(Dlg().NextButton().isEnabled());
}

TEST_F(DevicePageTest, RefusedListFileShowsInvalidFileAndKeepsThePathShownBefore) {
    const QString good = ListFile("good.txt", "a.example\n");
    answerer.ChooseFile(good);
    Click(DevicePage().BrowseButton());
    ASSERT_EQ(DevicePage().FileEntry().text(), good);

    const QString invalid = QStringLiteral("Invalid file.\nSelect the correct file.");
    const struct {
        const char* name;
        const char* content;
        QString says;
    } refused[] = {
        {"bad-line.txt", "c.example\nbad name\nd.example\n", invalid},
        {"empty-lines.txt", "\r\n \r\n\t\n", invalid},
        {"octal.txt", "c.example\n\n 127.0.0.010 \nbad name\n",
         QStringLiteral("Line 3 of the file: 127.0.0.010 has a part with a leading zero, which is "
                        "read as octal (127.0.0.8). Write the address in plain decimal, as in "
                        "127.0.0.10.\nThe file was not imported.")}};
    for (const auto& file : refused) {
        SCOPED_TRACE(file.name);
        answerer.ChooseFile(ListFile(file.name, file.content));
        answerer.Answer(QMessageBox::Ok);
        const std::size_t before = answerer.messages.size();
        Click(DevicePage().BrowseButton());
        ASSERT_EQ(answerer.messages.size(), before + 1);
        EXPECT_EQ(answerer.messages.back().text, file.says);
        EXPECT_EQ(answerer.messages.back().icon, QMessageBox::Critical);
        EXPECT_EQ(DevicePage().FileEntry().text(), good);
        EXPECT_EQ(List().RowCount(), 1);
    }
}

// A list as editors and spreadsheets write it (byte order mark, blanks, lines of blanks) is
// taken; a name for a device already in the list under another spelling, on an earlier line
// or before the import, is left out and named by its line; an exact repeat is left out quietly.
TEST_F(DevicePageTest, ImportForgivesBomAndBlanksAndAddsEachDeviceOnce) {
    AddDevice(QStringLiteral("dup.invalid"));
    answerer.ChooseFile(ListFile("edited.txt",
                                 "\xEF\xBB\xBF a.example \r\nDUP.INVALID\t\r\n\r\n"
                                 "  \t \r\nA.EXAMPLE.\r\na.example\r\nb.example"));
    answerer.Answer(QMessageBox::Ok);
    Click(DevicePage().BrowseButton());
    EXPECT_EQ(ShownHosts(List()), (QStringList{"dup.invalid", "a.example", "b.example"}));
    ASSERT_EQ(answerer.messages.size(), 1U);
    EXPECT_EQ(answerer.messages[0].text,
              QStringLiteral("These names were not added: each names a device already in the "
                             "list under another spelling.\n"
                             "Line 2: DUP.INVALID (the same device as dup.invalid)\n"
                             "Line 5: A.EXAMPLE. (the same device as a.example)"));
    EXPECT_EQ(answerer.messages[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(Dlg().NextButton().isEnabled());

    // A long list of them shows its first ten lines and how many more there are.
    std::string again;
    for (int i = 0; i < 12; ++i) {
        again += i % 2 == 0 ? "B.EXAMPLE\n" : "b.example.\n";
    }
    answerer.ChooseFile(ListFile("again.txt", again));
    answerer.Answer(QMessageBox::Ok);
    Click(DevicePage().BrowseButton());
    ASSERT_EQ(answerer.messages.size(), 2U);
    const QStringList lines = answerer.messages[1].text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 12);
    EXPECT_EQ(lines[10], QStringLiteral("Line 10: b.example. (the same device as b.example)"));
    EXPECT_EQ(lines[11], QStringLiteral("... and 2 more."));
    EXPECT_EQ(List().RowCount(), 3);
    EXPECT_EQ(engine.model.devices.size(), 3U);
}

TEST_F(DevicePageTest, CancelledFileDialogChangesNothing) {
    answerer.ChooseFile(QString());
    Click(DevicePage().BrowseButton());
    EXPECT_EQ(answerer.fileDialogs.size(), 1u);
    EXPECT_TRUE(DevicePage().FileEntry().text().isEmpty());
    EXPECT_TRUE(answerer.messages.empty());
}

TEST_F(DevicePageTest, CheckBoxesMirrorTheUpdateValueBothWaysAndAcrossPages) {
    AddDevice(QStringLiteral("a.example"));
    AddDevice(QStringLiteral("b.example"));
    SetRowChecked(List(), 0, false);
    EXPECT_EQ(engine.model.At(L"a.example").values[L"update"], L"false");

    // The update page shows the same, and its own change comes back here.
    GoToUpdatePage();
    CDeviceListView& updateList = UpdatePage().List();
    ASSERT_EQ(updateList.RowCount(), 2);
    EXPECT_FALSE(updateList.IsChecked(0));
    EXPECT_TRUE(updateList.IsChecked(1));
    SetRowChecked(updateList, 1, false);
    SetRowChecked(updateList, 0, true);
    EXPECT_EQ(engine.model.At(L"b.example").values[L"update"], L"false");
    Click(Dlg().BackButton());
    EXPECT_TRUE(List().IsChecked(0));
    EXPECT_FALSE(List().IsChecked(1));

    // A change in the engine shows at the next activation.
    engine.model.At(L"a.example").values[L"update"] = L"false";
    engine.model.At(L"b.example").values[L"update"] = L"true";
    GoToUpdatePage();
    EXPECT_FALSE(updateList.IsChecked(0));
    EXPECT_TRUE(updateList.IsChecked(1));
    Click(Dlg().BackButton());
    EXPECT_FALSE(List().IsChecked(0));
    EXPECT_TRUE(List().IsChecked(1));
}

TEST_F(DevicePageTest, SpaceTogglesTheCurrentRowsCheckBox) {
    AddDevice(QStringLiteral("a.example"));
    AddDevice(QStringLiteral("b.example"));
    PressSpaceOnRow(List(), 1);
    EXPECT_FALSE(List().IsChecked(1));
    EXPECT_EQ(engine.model.At(L"b.example").values[L"update"], L"false");
    PressSpaceOnRow(List(), 1);
    EXPECT_TRUE(List().IsChecked(1));
    EXPECT_EQ(engine.model.At(L"b.example").values[L"update"], L"true");
}

TEST_F(DevicePageTest, LargeImportIsOneInsertionMirroredWithoutWritesAndSizedToFit) {
    const QString longName = QStringLiteral("north-wing-printer.example");
    std::string content = longName.toStdString() + "\n";
    constexpr int kDevices = 2000;
    for (int i = 1; i < kDevices; ++i) {
        content += "device-" + std::to_string(i) + ".example\n";
    }
    int insertions = 0;
    QObject::connect(&List().Rows(), &QAbstractItemModel::rowsInserted, [&] { ++insertions; });
    answerer.ChooseFile(ListFile("fleet.txt", content));
    Click(DevicePage().BrowseButton());

    ASSERT_EQ(List().RowCount(), kDevices);
    EXPECT_EQ(insertions, 1);
    EXPECT_EQ(List().FindRow(QStringLiteral("device-1999.example")), kDevices - 1);
    EXPECT_TRUE(List().IsChecked(kDevices - 1));
    // The rows show the engine's "update" values; nothing is written back for them.
    EXPECT_TRUE(engine.model.targetCalls.empty());
    // The host name column is as wide as its longest name, so nothing is cut.
    EXPECT_GT(List().sizeHintForColumn(0), 120);
    EXPECT_GE(List().columnWidth(0), List().sizeHintForColumn(0));
    EXPECT_TRUE(List().CellToolTip(0, 0).isEmpty());

    // A name wider than the list gives way to the result column, and shows as a tooltip.
    const QString hugeName = QString(200, QLatin1Char('x')) + QStringLiteral(".example");
    answerer.ChooseFile(ListFile("huge.txt", hugeName.toStdString() + "\n"));
    Click(DevicePage().BrowseButton());
    ASSERT_EQ(List().RowCount(), kDevices + 1);
    EXPECT_GE(List().columnWidth(3), List().viewport()->width() / 3 - 1);
    EXPECT_EQ(List().CellToolTip(kDevices, 0), hugeName);
}

TEST_F(DevicePageTest, CutCellShowsItsFullTextAsTooltip) {
    const QString longName =
        QStringLiteral("printer-with-a-name-much-wider-than-its-column.example");
    AddDevice(longName);
    AddDevice(QStringLiteral("b.example"));
    List().setColumnWidth(0, 60);
    EXPECT_EQ(List().CellToolTip(0, 0), longName);
    EXPECT_TRUE(List().CellToolTip(0, 1).isEmpty());  // an empty cell is never cut
    List().setColumnWidth(0, List().sizeHintForColumn(0) + 10);
    EXPECT_TRUE(List().CellToolTip(0, 0).isEmpty());
    EXPECT_TRUE(List().CellToolTip(1, 0).isEmpty());
}

// A click on a column title changes only the order shown: the rows, their checks and every row
// number the page and the engine see stay in registration order.
TEST_F(DevicePageTest, ColumnTitleSortsTheViewWhileRowsStayInRegistrationOrder) {
    const QStringList registered = {"device-10.example", "device-2.example", "Device-1.example"};
    for (const QString& host : registered) {
        AddDevice(host);
    }
    SetRowChecked(List(), 1, false);
    QHeaderView& header = *List().header();
    const auto clickTitle = [&header](int section) {
        QTest::mouseClick(header.viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(header.sectionViewportPosition(section) + 5, header.height() / 2));
    };
    clickTitle(0);
    EXPECT_EQ(ShownHosts(List()),
              (QStringList{"Device-1.example", "device-2.example", "device-10.example"}));
    EXPECT_TRUE(header.isSortIndicatorShown());
    EXPECT_EQ(header.sortIndicatorSection(), 0);
    EXPECT_EQ(header.sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_EQ(List().Text(0, 0), registered[0]);
    EXPECT_FALSE(List().IsChecked(1));
    AddDevice(QStringLiteral("device-3.example"));  // shown in its sorted place, added at the end
    EXPECT_EQ(ShownHosts(List()).indexOf(QStringLiteral("device-3.example")), 2);
    EXPECT_EQ(List().FindRow(QStringLiteral("device-3.example")), 3);

    // Selection, keyboard and tooltips name the row they show.
    ASSERT_TRUE(List().SelectRow(1));
    EXPECT_EQ(List().currentIndex().data().toString(), registered[1]);
    EXPECT_EQ(List().CurrentRow(), 1);
    engine.model.targetCalls.clear();
    PressSpaceOnRow(List(), 1);
    EXPECT_TRUE(List().IsChecked(1));
    EXPECT_EQ(engine.model.targetCalls,
              (std::vector<std::pair<std::wstring, bool>>{{L"device-2.example", true}}));
    List().setColumnWidth(0, 40);
    const QRect shownFirst = List().visualRect(List().model()->index(0, 0));
    QHelpEvent help(QEvent::ToolTip, shownFirst.center(),
                    List().viewport()->mapToGlobal(shownFirst.center()));
    QApplication::sendEvent(List().viewport(), &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Device-1.example"));

    clickTitle(0);
    EXPECT_EQ(ShownHosts(List()).front(), registered[0]);
    EXPECT_EQ(header.sortIndicatorOrder(), Qt::DescendingOrder);
    clickTitle(0);  // the third click returns to registration order
    EXPECT_EQ(ShownHosts(List()), registered + QStringList{"device-3.example"});
}

TEST_F(DevicePageTest, SavedReportOfTheAccessTestHasALinePerTestedDevice) {
    for (const char* host : {"a.example", "b.example", "c.example"}) {
        AddDevice(QString::fromLatin1(host));
    }
    SetRowChecked(List(), 2, false);
    engine.controller.onTest = [this] {
        fake::Device& a = engine.model.At(L"a.example");
        a.script = {20, 100};
        a.values[L"modelname"] = L"=cmd|' /C calc'!A0";
        a.values[L"version"] = L"Ver.3.00TC";
        engine.model.At(L"b.example").script = {-3};
        return true;
    };
    EXPECT_FALSE(DevicePage().ListTools().SaveReportButton().isEnabled());
    answerer.Answer(QMessageBox::Ok);
    Click(DevicePage().TestButton());
    ASSERT_TRUE(answerer.WaitForMessages(1));

    const QString path = folder.filePath(QStringLiteral("test.csv"));
    answerer.ChooseFile(path);
    Click(DevicePage().ListTools().SaveReportButton());
    ASSERT_EQ(answerer.fileDialogs.size(), 1u);
    EXPECT_EQ(answerer.fileDialogs[0].nameFilters, QStringList{QStringLiteral("CSV File(*.csv)")});
    EXPECT_TRUE(answerer.fileDialogs[0].selectedFiles.value(0).endsWith("/vorta-report.csv"));
    const std::vector<QStringList> csv = ReadCsv(path);
    ASSERT_EQ(csv.size(), 3u);  // the header and the two tested devices
    EXPECT_EQ(csv[0].join(','), QStringLiteral("host,model,version_before,version_after,outcome,"
                                               "result_code,result,wave,start,end,test_attempts"));
    const QStringList passed = {
        "a.example", "'=cmd|' /C calc'!A0", "Ver.3.00TC", "", "0", "100", "Success", ""};
    EXPECT_EQ(csv[1].mid(0, 8), passed);
    EXPECT_LE(csv[1][8], csv[1][9]);  // both set, the end not before the start
    EXPECT_FALSE(csv[1][8].isEmpty());
    EXPECT_EQ(csv[1][10], QStringLiteral("1"));
    const QStringList failed = {"b.example", "", "", "", "-100", "-3", List().Text(1, 3), ""};
    EXPECT_EQ(csv[2].mid(0, 8), failed);
}

TEST_F(DevicePageTest, AccessTestNeedsACheckedRowAndAnEngineThatStarts) {
    AddDevice(QStringLiteral("a.example"));
    SetRowChecked(List(), 0, false);
    answerer.Answer(QMessageBox::Ok);
    Click(DevicePage().TestButton());
    ASSERT_EQ(answerer.messages.size(), 1u);
    EXPECT_EQ(answerer.messages[0].text, Text(L"MSG-104"));
    EXPECT_EQ(answerer.messages[0].icon, QMessageBox::Information);
    EXPECT_EQ(engine.controller.testStarts, 0);

    SetRowChecked(List(), 0, true);
    engine.controller.onTest = [] { return false; };  // another job runs
    answerer.Answer(QMessageBox::Ok);
    Click(DevicePage().TestButton());
    ASSERT_EQ(answerer.messages.size(), 2u);
    EXPECT_EQ(answerer.messages[1].text, Text(L"MSG-103"));
    EXPECT_EQ(answerer.messages[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(Dlg().CancelButton().isEnabled());
}

TEST_F(DevicePageTest, AccessTestLocksTheWizardAndShowsEachResultWhenItsDeviceEnds) {
    for (const char* host : {"a.example", "b.example", "c.example"}) {
        AddDevice(QString::fromLatin1(host));
    }
    engine.controller.onTest = [this] {
        fake::Device& a = engine.model.At(L"a.example");
        a.script = {20, 40};  // holds at 40 until the test lets it finish
        a.values[L"modelname"] = L"QX-100";
        a.values[L"version"] = L"Ver.2.00";
        engine.model.At(L"b.example").script = {20, -3};
        engine.model.At(L"c.example").script = {100};
        return true;
    };
    CDeviceListTools& tools = DevicePage().ListTools();
    tools.FilterBox().setCurrentIndex(2);  // unfinished: every checked row, as none has run
    EXPECT_EQ(ShownHosts(List()).size(), 3);
    Click(DevicePage().TestButton());

    // Running: nothing may close the wizard or change the devices.
    EXPECT_FALSE(Dlg().BackButton().isEnabled());
    EXPECT_FALSE(Dlg().NextButton().isEnabled());
    EXPECT_FALSE(Dlg().CancelButton().isEnabled());
    EXPECT_FALSE(Dlg().IsCloseEnabled());
    for (QWidget* control : std::initializer_list<QWidget*>{
             &DevicePage().AddButton(), &DevicePage().BrowseButton(), &DevicePage().TestButton(),
             &DevicePage().NameEntry(), &DevicePage().FileEntry(), &tools.CheckFailedButton(),
             &tools.SaveReportButton()}) {
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    }
    ExpectReadableWithLockedChecks(List());
    EXPECT_FALSE(Dlg().close());
    QTest::keyClick(&Dlg(), Qt::Key_Escape);
    EXPECT_TRUE(Dlg().isVisible());

    // Later rows do not wait for the first one, which shows how far its test got; the filter
    // follows each row as it ends.
    EXPECT_TRUE(tools.FilterBox().isEnabled());
    ASSERT_TRUE(WaitFor([&] { return List().Text(1, 3) == Text(L"STR-004"); }));
    ASSERT_TRUE(WaitFor([&] { return List().Text(2, 3) == QStringLiteral("Success"); }));
    ASSERT_TRUE(WaitFor([&] { return List().Text(0, 3) == QStringLiteral("40%"); }));
    EXPECT_EQ(List().Rows().data(List().Rows().index(0, 3), CDeviceListModel::kProgressRole),
              QVariant(40));
    EXPECT_EQ(ShownHosts(List()), QStringList{QStringLiteral("a.example")});
    tools.FilterBox().setCurrentIndex(1);  // failed
    EXPECT_EQ(ShownHosts(List()), QStringList{QStringLiteral("b.example")});

    answerer.Answer(QMessageBox::Ok);
    engine.model.At(L"a.example").script = {100};
    ASSERT_TRUE(answerer.WaitForMessages(1));
    EXPECT_EQ(answerer.messages[0].text, Text(L"MSG-103"));
    EXPECT_EQ(answerer.messages[0].icon, QMessageBox::Critical);
    EXPECT_EQ(List().Text(0, 1), QStringLiteral("QX-100"));
    EXPECT_EQ(List().Text(0, 2), QStringLiteral("Ver.2.00"));
    EXPECT_EQ(List().Text(0, 3), QStringLiteral("Success"));
    EXPECT_EQ(List().Text(1, 3), QStringLiteral("Failed to communicate."));
    EXPECT_EQ(List().Text(2, 3), QStringLiteral("Success"));
    EXPECT_TRUE(Dlg().NextButton().isEnabled());
    EXPECT_TRUE(Dlg().BackButton().isEnabled());
    EXPECT_TRUE(Dlg().CancelButton().isEnabled());
    EXPECT_TRUE(Dlg().IsCloseEnabled());
    EXPECT_TRUE(DevicePage().TestButton().isEnabled());
    EXPECT_FALSE(List().Rows().ChecksLocked());
    EXPECT_TRUE(tools.CheckFailedButton().isEnabled());
    EXPECT_TRUE(tools.SaveReportButton().isEnabled());
    EXPECT_EQ(engine.controller.testStarts, 1);
}

TEST_F(DevicePageTest, UncheckedDeviceIsSkippedAndKeepsItsResultText) {
    AddDevice(QStringLiteral("a.example"));
    AddDevice(QStringLiteral("b.example"));
    engine.controller.onTest = [this] {
        engine.model.At(L"a.example").script = {100};
        engine.model.At(L"b.example").script = {-14};
        // The engine's job ends a few polls after its last device.
        engine.settings.jobStates.assign(3, fake::tv::EJobState::Testing);
        return true;
    };
    answerer.Answer(QMessageBox::Ok);
    Click(DevicePage().TestButton());
    ASSERT_TRUE(answerer.WaitForMessages(1));
    EXPECT_TRUE(engine.settings.jobStates.empty());  // the page ended with the job, not before
    EXPECT_EQ(List().Text(1, 3), Text(L"STR-006"));

    SetRowChecked(List(), 1, false);
    engine.controller.onTest = [this] {
        engine.model.At(L"a.example").script = {60, 100};
        return true;
    };
    answerer.Answer(QMessageBox::Ok);
    Click(DevicePage().TestButton());
    ASSERT_TRUE(answerer.WaitForMessages(2));
    EXPECT_EQ(answerer.messages[1].text, QStringLiteral("Success."));
    EXPECT_EQ(answerer.messages[1].icon, QMessageBox::Information);
    EXPECT_EQ(List().Text(1, 3), Text(L"STR-006"));
    // The engine tested exactly the checked devices, and the check boxes are as they were.
    EXPECT_EQ(engine.controller.testTargets.back(), std::vector<std::wstring>{L"a.example"});
    EXPECT_EQ(engine.model.At(L"b.example").values[L"update"], L"false");
    EXPECT_FALSE(List().IsChecked(1));
}

}  // namespace
}  // namespace wizardtest
