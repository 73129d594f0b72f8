// The update page: confirmation, the image load on its worker (once per run), the rewrite
// followed per row as each device moves, the downgrade question, the summary line, the closing
// message and the number of devices at a time.
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include "FakeEngine.h"
#include "WizardDriver.h"

namespace wizardtest {
namespace {

class UpdatePageTest : public WizardTest {
protected:
    void SetUp() override {
        ShowWizard(engine.Access());
        GoToDevicePage();
        for (const wchar_t* host : {L"a.example", L"b.example", L"c.example"}) {
            AddDevice(QString::fromWCharArray(host));
            engine.model.At(host).values[L"modelname"] = L"QX-100";
            engine.model.At(host).values[L"version"] = L"Ver.3.01TC";
        }
        GoToUpdatePage();
    }

    CDeviceListView& List() { return UpdatePage().List(); }
    CDeviceListTools& Tools() { return UpdatePage().ListTools(); }

    // The device's rewrite as the engine reports it once the job starts.
    void OnUpdate(std::function<void()> scripts) {
        engine.controller.onUpdate = [this, scripts](const std::wstring&) {
            scripts();
            for (auto& device : engine.model.devices) {
                device->values[L"afterversion"] = L"Ver.3.01TC";
            }
            return true;
        };
    }

    // Update, Yes to the confirmation; waits until the job has started.
    void StartRewrite() {
        answerer.Answer(QMessageBox::Yes);
        const std::size_t policies = engine.controller.updatePolicies.size();
        Click(Dlg().UpdateButton());
        ASSERT_TRUE(WaitFor([&] { return engine.controller.updatePolicies.size() > policies; }));
    }

    void ExpectLocked(const char* when) {
        SCOPED_TRACE(when);
        EXPECT_FALSE(Dlg().BackButton().isEnabled());
        EXPECT_FALSE(Dlg().UpdateButton().isEnabled());
        EXPECT_FALSE(Dlg().CancelButton().isEnabled());
        EXPECT_FALSE(Dlg().IsCloseEnabled());
        EXPECT_FALSE(Dlg().NextButton().isVisible());
        EXPECT_FALSE(UpdatePage().AskButton().isEnabled());
        EXPECT_FALSE(UpdatePage().RewriteButton().isEnabled());
        for (QWidget* control : std::initializer_list<QWidget*>{
                 &UpdatePage().DevicesAtATimeBox(), &UpdatePage().CanaryCountBox(),
                 &UpdatePage().StopAfterFailuresBox(), &Tools().CheckFailedButton(),
                 &Tools().SaveReportButton()}) {
            EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
        }
        ExpectReadableWithLockedChecks(List());
        // Closing asks whether to stop after the devices in progress; No goes on.
        answerer.Answer(QMessageBox::No);
        EXPECT_FALSE(Dlg().close());
        ASSERT_FALSE(answerer.messages.empty());
        EXPECT_EQ(answerer.messages.back().text, Text(L"MSG-205"));
        QTest::keyClick(&Dlg(), Qt::Key_Escape);
        EXPECT_TRUE(Dlg().isVisible());
    }

    void ExpectUnlocked() {
        EXPECT_TRUE(Dlg().BackButton().isEnabled());
        EXPECT_TRUE(Dlg().UpdateButton().isEnabled());
        EXPECT_TRUE(Dlg().CancelButton().isEnabled());
        EXPECT_TRUE(Dlg().IsCloseEnabled());
        EXPECT_TRUE(List().isEnabled());
        EXPECT_FALSE(List().Rows().ChecksLocked());
        EXPECT_TRUE(UpdatePage().DevicesAtATimeBox().isEnabled());
        EXPECT_TRUE(UpdatePage().CanaryCountBox().isEnabled());
        EXPECT_TRUE(UpdatePage().StopAfterFailuresBox().isEnabled());
        EXPECT_EQ(Dlg().focusWidget(), &Dlg().UpdateButton());
    }

    fake::Engine engine;
};

TEST_F(UpdatePageTest, ListShowsEveryDeviceWithItsVersions) {
    ASSERT_EQ(List().RowCount(), 3);
    EXPECT_EQ(List().Text(0, 0), QStringLiteral("a.example"));
    EXPECT_EQ(List().Text(0, 1), QStringLiteral("QX-100"));
    EXPECT_EQ(List().Text(0, 2), QStringLiteral("Ver.3.01TC"));
    EXPECT_TRUE(List().IsChecked(2));
    EXPECT_TRUE(UpdatePage().AskButton().isChecked());
}

TEST_F(UpdatePageTest, NothingStartsWithoutACheckedRowOrWithoutYes) {
    for (int row = 0; row < 3; ++row) {
        SetRowChecked(List(), row, false);
    }
    answerer.Answer(QMessageBox::Ok);
    Click(Dlg().UpdateButton());
    ASSERT_EQ(answerer.messages.size(), 1u);
    EXPECT_EQ(answerer.messages[0].text, Text(L"MSG-204"));
    EXPECT_EQ(answerer.messages[0].icon, QMessageBox::Information);

    SetRowChecked(List(), 1, true);
    answerer.Answer(QMessageBox::No);
    Click(Dlg().UpdateButton());
    ASSERT_EQ(answerer.messages.size(), 2u);
    EXPECT_EQ(answerer.messages[1].text, Text(L"MSG-200"));
    EXPECT_EQ(answerer.messages[1].icon, QMessageBox::Question);
    EXPECT_EQ(answerer.messages[1].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(answerer.messages[1].defaultButton, QMessageBox::No);
    EXPECT_EQ(Dlg().focusWidget(), &Dlg().UpdateButton());
    EXPECT_EQ(engine.imageLoads, 0);
    EXPECT_TRUE(engine.controller.updatePolicies.empty());
}

TEST_F(UpdatePageTest, EachChoiceHandsItsPolicyToTheEngine) {
    const struct {
        QRadioButton& radio;
        const wchar_t* policy;
    } choices[] = {{UpdatePage().SkipButton(), L"skip"},
                   {UpdatePage().RewriteButton(), L"update"},
                   {UpdatePage().AskButton(), L"inquiry"}};
    OnUpdate([this] {
        for (auto& device : engine.model.devices) {
            device->script = {100};
        }
    });
    std::size_t messages = 0;
    for (const auto& choice : choices) {
        SCOPED_TRACE(QString::fromWCharArray(choice.policy).toStdString());
        Click(choice.radio);
        StartRewrite();
        EXPECT_EQ(engine.controller.updatePolicies.back(), choice.policy);
        answerer.Answer(QMessageBox::Ok);
        messages += 2;
        ASSERT_TRUE(answerer.WaitForMessages(messages));
        EXPECT_EQ(answerer.messages.back().text, Text(L"MSG-202"));
        EXPECT_EQ(answerer.messages.back().icon, QMessageBox::Information);
        EXPECT_EQ(List().Text(2, 4), QStringLiteral("Success"));
        EXPECT_EQ(List().Text(2, 3), QStringLiteral("Ver.3.01TC"));
    }
    EXPECT_EQ(engine.imageLoads, 1);  // the image goes to the engine once per run
}

TEST_F(UpdatePageTest, ImageIsLoadedOnItsWorkerWhileTheWizardIsLocked) {
    OnUpdate([this] {
        for (auto& device : engine.model.devices) {
            device->script = {100};
        }
    });
    engine.HoldImageLoad();
    answerer.Answer(QMessageBox::Yes);
    Click(Dlg().UpdateButton());
    ExpectLocked("while the image loads");
    EXPECT_TRUE(engine.controller.updatePolicies.empty());
    engine.ReleaseImageLoad();
    answerer.Answer(QMessageBox::Ok);
    ASSERT_TRUE(answerer.WaitForMessages(3));  // the confirmation, the close, the end
    EXPECT_EQ(engine.imageLoads, 1);
    EXPECT_TRUE(UpdatePage().IsImageLoaded());
    ExpectUnlocked();
}

TEST_F(UpdatePageTest, RefusedImageOrRefusedStartEndsWithTheFailureMessage) {
    engine.imageLoadResult = false;
    answerer.Answer(QMessageBox::Yes);
    answerer.Answer(QMessageBox::Ok);
    Click(Dlg().UpdateButton());
    ASSERT_TRUE(answerer.WaitForMessages(2));
    EXPECT_EQ(answerer.messages[1].text, Text(L"MSG-203"));
    EXPECT_EQ(answerer.messages[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(engine.controller.updatePolicies.empty());
    ExpectUnlocked();

    // The next try loads the image again; this time the engine refuses the rewrite.
    engine.imageLoadResult = true;
    engine.controller.onUpdate = [](const std::wstring&) { return false; };
    answerer.Answer(QMessageBox::Yes);
    answerer.Answer(QMessageBox::Ok);
    Click(Dlg().UpdateButton());
    ASSERT_TRUE(answerer.WaitForMessages(4));
    EXPECT_EQ(answerer.messages[3].text, Text(L"MSG-203"));
    EXPECT_EQ(engine.imageLoads, 2);
    EXPECT_TRUE(Dlg().CancelButton().isEnabled());
}

TEST_F(UpdatePageTest, EachRowShowsItsOwnProgressAndStepAndEndsOnItsOwn) {
    OnUpdate([this] {
        fake::Device& a = engine.model.At(L"a.example");
        a.script = {0, 7};  // holds at 7 until the test lets it finish
        a.values[L"phase"] = L"upload 7/11";
        engine.model.At(L"b.example").script = {0, 30, 100};
        engine.model.At(L"c.example").script = {0};  // not reached by the job yet
    });
    StartRewrite();
    ASSERT_TRUE(WaitFor([&] { return List().Text(1, 4) == QStringLiteral("Success"); }));
    ASSERT_TRUE(WaitFor([&] { return List().Text(0, 4) == QStringLiteral("7% part 7 of 11"); }));
    // A later device ends while an earlier one still runs, and no closing message comes yet.
    EXPECT_EQ(List().Rows().data(List().Rows().index(0, 4), CDeviceListModel::kProgressRole),
              QVariant(7));
    EXPECT_EQ(List().Text(2, 4), Text(L"FSTR-0316"));
    EXPECT_FALSE(
        List().Rows().data(List().Rows().index(2, 4), CDeviceListModel::kProgressRole).isValid());
    EXPECT_EQ(answerer.messages.size(), 1u);
    ExpectLocked("while devices are rewritten");  // asks once whether to stop

    engine.model.At(L"a.example").values[L"phase"] = L"restart";
    ASSERT_TRUE(
        WaitFor([&] { return List().Text(0, 4) == QStringLiteral("7% waiting for restart"); }));
    engine.model.At(L"c.example").script = {100};
    ASSERT_TRUE(WaitFor([&] { return List().Text(2, 4) == QStringLiteral("Success"); }));
    EXPECT_EQ(answerer.messages.size(), 2u);  // a has not ended

    answerer.Answer(QMessageBox::Ok);
    // The engine's job ends a few polls after its last device; the page waits for it.
    engine.settings.jobStates.assign(3, fake::tv::EJobState::Updating);
    engine.model.At(L"a.example").script = {100};
    ASSERT_TRUE(answerer.WaitForMessages(3));
    EXPECT_TRUE(engine.settings.jobStates.empty());
    EXPECT_EQ(answerer.messages[2].text, Text(L"MSG-202"));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(List().Text(row, 4), QStringLiteral("Success")) << row;
    }
    EXPECT_FALSE(UpdatePage().RolloutStatus().isVisible());
    ExpectUnlocked();
}

TEST_F(UpdatePageTest, StepsOfTheEngineInWords) {
    const struct {
        const char* phase;
        int progress;
        const char* text;
    } cases[] = {
        {"", 0, "waiting"},
        {"", 40, ""},
        {"test", 0, "checking the device"},
        {"upload 7/11", 64, "part 7 of 11"},
        {"upload 12/110", 5, "part 12 of 110"},
        {"restart", 20, "waiting for restart"},
        {"confirm", 99, "confirming the new version"},
        {"upload x/11", 10, "upload x/11"},  // unknown forms are shown as the engine gives them
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CUpdatePage::PhaseText(QString::fromLatin1(c.phase), c.progress),
                  QString::fromLatin1(c.text))
            << c.phase << " " << c.progress;
    }
    EXPECT_EQ(CUpdatePage::SummaryText(3, 1, 2, 3723999),
              QStringLiteral("Done: 3   Failed: 1   Waiting: 2   Elapsed time: 1:02:03"));
}

TEST_F(UpdatePageTest, DowngradeQuestionIsAskedWithTheTimerStopped) {
    const struct {
        QMessageBox::StandardButton answer;
        const wchar_t* expectedAnswer;
        std::deque<int> afterAnswer;
        const wchar_t* resultText;
        const wchar_t* closing;
    } cases[] = {
        {QMessageBox::Yes, L"update", {50, 100}, L"STR-001", L"MSG-202"},
        {QMessageBox::No, L"skip", {-16}, L"STR-003", L"MSG-203"},
    };
    std::size_t messages = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromWCharArray(c.expectedAnswer).toStdString());
        OnUpdate([this] {
            engine.model.At(L"a.example").script = {100};
            engine.model.At(L"b.example").script = {0, -15};
            engine.model.At(L"c.example").script = {100};
        });
        engine.controller.onAnswer = [this, &c](const std::wstring&) {
            fake::Device& b = engine.model.At(L"b.example");
            b.progress = 0;
            b.script = c.afterAnswer;
            b.values[L"version"] = L"Ver.4.00";
            return true;
        };
        bool timerStopped = false;
        int selectedRow = -1;
        int stopsWhileAsked = -1;
        answerer.whileOpen = [&](QMessageBox& box) {
            if (box.text() == Text(L"MSG-201")) {
                auto* timer = UpdatePage().findChild<QTimer*>(QStringLiteral("sessionPollTimer"));
                timerStopped = timer != nullptr && !timer->isActive();
                selectedRow = List().CurrentRow();
                if (c.answer == QMessageBox::No) {
                    // A stop while the question is open reaches the engine at once: its other
                    // runners must not go on starting devices until someone answers.
                    UpdatePage().StopAfterDevicesInProgressButton().click();
                    stopsWhileAsked = engine.settings.stopCalls;
                }
            }
        };
        StartRewrite();
        answerer.Answer(c.answer);
        answerer.Answer(QMessageBox::Ok);
        messages += 3;
        ASSERT_TRUE(answerer.WaitForMessages(messages));
        const SeenMessage& question = answerer.messages[messages - 2];
        EXPECT_EQ(question.text, Text(L"MSG-201"));
        EXPECT_EQ(question.icon, QMessageBox::Question);
        EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(question.defaultButton, QMessageBox::No);
        EXPECT_TRUE(timerStopped);
        EXPECT_EQ(selectedRow, 1);  // the asking device's row
        EXPECT_EQ(stopsWhileAsked, c.answer == QMessageBox::No ? 1 : -1);
        EXPECT_EQ(engine.controller.answers.back(), c.expectedAnswer);
        EXPECT_EQ(List().Text(1, 4), Text(c.resultText));
        EXPECT_EQ(List().Text(1, 2), QStringLiteral("Ver.4.00"));
        EXPECT_EQ(answerer.messages.back().text, Text(c.closing));
        EXPECT_EQ(List().Text(2, 4), QStringLiteral("Success"));
    }
    EXPECT_EQ(engine.controller.answers.size(), 2u);
}

TEST_F(UpdatePageTest, SameVersionIsASuccessAndSkippedDowngradeAFailure) {
    const struct {
        int result;
        const wchar_t* text;
        const wchar_t* closing;
    } cases[] = {
        {-2, L"STR-002", L"MSG-202"}, {-16, L"STR-003", L"MSG-203"}, {-3, L"STR-004", L"MSG-203"}};
    Click(UpdatePage().SkipButton());
    std::size_t messages = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        OnUpdate([this, &c] {
            engine.model.At(L"a.example").script = {c.result};
            engine.model.At(L"b.example").script = {100};
            engine.model.At(L"c.example").script = {100};
        });
        StartRewrite();
        answerer.Answer(QMessageBox::Ok);
        messages += 2;
        ASSERT_TRUE(answerer.WaitForMessages(messages));
        EXPECT_EQ(List().Text(0, 4), Text(c.text));
        EXPECT_EQ(answerer.messages.back().text, Text(c.closing));
        const bool failed = c.result != -2;
        EXPECT_TRUE(UpdatePage().SummaryLine().text().startsWith(
            failed ? QStringLiteral("Done: 2   Failed: 1   Waiting: 0")
                   : QStringLiteral("Done: 3   Failed: 0   Waiting: 0")))
            << UpdatePage().SummaryLine().text().toStdString();
    }
    EXPECT_TRUE(engine.controller.answers.empty());  // no question with the skip choice
}

TEST_F(UpdatePageTest, UncheckedRowsAreSkippedAndKeepTheirTexts) {
    SetRowChecked(List(), 1, false);
    List().SetText(1, 4, QStringLiteral("earlier result"));
    OnUpdate([this] {
        engine.model.At(L"a.example").script = {100};
        engine.model.At(L"b.example").script = {-3};
        engine.model.At(L"c.example").script = {100};
    });
    StartRewrite();
    answerer.Answer(QMessageBox::Ok);
    ASSERT_TRUE(answerer.WaitForMessages(2));
    EXPECT_EQ(answerer.messages[1].text, Text(L"MSG-202"));
    EXPECT_EQ(List().Text(1, 4), QStringLiteral("earlier result"));
    EXPECT_EQ(engine.model.At(L"b.example").values[L"update"], L"false");
}

TEST_F(UpdatePageTest, AskingDeviceFarDownTheListIsSelectedAndScrolledIntoView) {
    Click(Dlg().BackButton());
    for (int i = 0; i < 60; ++i) {
        engine.Register(L"more-" + std::to_wstring(i) + L".example");
    }
    GoToUpdatePage();
    ASSERT_EQ(List().RowCount(), 63);
    OnUpdate([this] {
        for (auto& device : engine.model.devices) {
            device->script = {100};
        }
        engine.model.At(L"more-55.example").script = {0, -15};
    });
    engine.controller.onAnswer = [this](const std::wstring&) {
        engine.model.At(L"more-55.example").script = {-16};
        return true;
    };
    Tools().FilterBox().setCurrentIndex(1);  // failed: the asking row is hidden at first
    bool shown = false;
    int selected = -1;
    answerer.whileOpen = [&](QMessageBox& box) {
        if (box.text() == Text(L"MSG-201")) {
            selected = List().CurrentRow();
            const QRect row = List().visualRect(List().currentIndex());
            shown = List().viewport()->rect().contains(row);
        }
    };
    StartRewrite();
    answerer.Answer(QMessageBox::No);
    answerer.Answer(QMessageBox::Ok);
    ASSERT_TRUE(answerer.WaitForMessages(3));
    EXPECT_EQ(selected, 58);
    EXPECT_TRUE(shown);
    EXPECT_EQ(Tools().FilterBox().currentIndex(), 0);
    EXPECT_EQ(List().Text(58, 4), Text(L"STR-003"));
}

TEST_F(UpdatePageTest, ProgressColumnSortsByHowFarEachDeviceGot) {
    Click(Dlg().BackButton());
    engine.Register(L"d.example");
    engine.Register(L"e.example");
    GoToUpdatePage();
    OnUpdate([this] {
        engine.model.At(L"a.example").script = {0, 40};
        engine.model.At(L"a.example").values[L"phase"] = L"upload 3/11";
        engine.model.At(L"b.example").script = {-3};
        engine.model.At(L"c.example").script = {0};
        engine.model.At(L"d.example").script = {100};
        engine.model.At(L"e.example").script = {0, 7};
        engine.model.At(L"e.example").values[L"phase"] = L"restart";
    });
    List().sortByColumn(4, Qt::AscendingOrder);
    StartRewrite();
    const QStringList ascending = {"b.example", "c.example", "e.example", "a.example", "d.example"};
    ASSERT_TRUE(WaitFor([&] { return ShownHosts(List()) == ascending; }))
        << ShownHosts(List()).join(' ').toStdString();
    EXPECT_EQ(List().Text(0, 0), QStringLiteral("a.example"));
    // The order follows as rows move: a ends, and goes to the end.
    engine.model.At(L"a.example").script = {100};
    ASSERT_TRUE(WaitFor([&] { return ShownHosts(List()).back() == "a.example"; }));
    for (const wchar_t* host : {L"c.example", L"e.example"}) {
        engine.model.At(host).script = {100};
    }
    answerer.Answer(QMessageBox::Ok);
    ASSERT_TRUE(answerer.WaitForMessages(2));
}

// "Failed" and "Unfinished" follow the rows while the rewrite runs; afterwards "Check failed
// only" leaves exactly the failed devices as targets (a skipped newer device is no failure).
TEST_F(UpdatePageTest, FilterFollowsTheRewriteAndCheckFailedOnlyRetriesTheFailedDevices) {
    OnUpdate([this] {
        engine.model.At(L"a.example").script = {0, 30};  // holds until the test lets it fail
        engine.model.At(L"b.example").script = {-16};
        engine.model.At(L"c.example").script = {100};
    });
    Click(UpdatePage().SkipButton());
    Tools().FilterBox().setCurrentIndex(2);  // unfinished
    StartRewrite();
    ASSERT_TRUE(WaitFor([&] { return ShownHosts(List()) == QStringList{"a.example"}; }));
    Tools().FilterBox().setCurrentIndex(1);  // failed
    EXPECT_TRUE(ShownHosts(List()).isEmpty());
    answerer.Answer(QMessageBox::Ok);
    engine.model.At(L"a.example").script = {-3};
    ASSERT_TRUE(answerer.WaitForMessages(2));
    EXPECT_EQ(ShownHosts(List()), QStringList{"a.example"});

    ASSERT_TRUE(Tools().CheckFailedButton().isEnabled());
    engine.model.targetCalls.clear();
    Click(Tools().CheckFailedButton());
    EXPECT_TRUE(List().IsChecked(0));
    EXPECT_FALSE(List().IsChecked(1));
    EXPECT_FALSE(List().IsChecked(2));
    EXPECT_EQ(engine.model.targetCalls, (std::vector<std::pair<std::wstring, bool>>{
                                            {L"b.example", false}, {L"c.example", false}}));
    OnUpdate([this] { engine.model.At(L"a.example").script = {0, 50}; });
    StartRewrite();
    using ERowOutcome = CDeviceListModel::ERowOutcome;
    EXPECT_EQ(List().Rows().Outcome(0), ERowOutcome::Running);
    EXPECT_EQ(List().Rows().Outcome(1), ERowOutcome::None);
    answerer.Answer(QMessageBox::Ok);
    engine.model.At(L"a.example").script = {100};
    ASSERT_TRUE(answerer.WaitForMessages(4));
    EXPECT_FALSE(Tools().CheckFailedButton().isEnabled());  // nothing failed this time
}

// One line per device of the last rewrite, as its row shows it; the version before is what the
// test before the rewrite read, the version after what the device reported once rewritten.
TEST_F(UpdatePageTest, SavedReportHoldsTheLastRewriteAndAFailedWriteSaysWhy) {
    SetRowChecked(List(), 2, false);
    fake::Device& tested = engine.model.At(L"a.example");
    tested.values[L"version"] = L"Ver.3.00TC";
    tested.values[L"modelname"] = L"=HYPERLINK(\"x\")";
    OnUpdate([this] {
        fake::Device& a = engine.model.At(L"a.example");
        a.script = {0, 60};
        a.values[L"phase"] = L"upload 5/11";
        engine.model.At(L"b.example").script = {0, -3};
    });
    StartRewrite();
    ASSERT_TRUE(WaitFor([&] { return List().Text(0, 4).startsWith("60%"); }));
    engine.model.At(L"a.example").values[L"version"] = L"Ver.3.01TC";  // read back
    engine.model.At(L"a.example").script = {100};
    answerer.Answer(QMessageBox::Ok);
    ASSERT_TRUE(answerer.WaitForMessages(2));

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("rewrite.csv"));
    answerer.ChooseFile(path);
    Click(Tools().SaveReportButton());
    const std::vector<QStringList> csv = ReadCsv(path);
    ASSERT_EQ(csv.size(), 3u);
    EXPECT_EQ(csv[1].mid(0, 8),
              (QStringList{"a.example", "\"'=HYPERLINK(\"\"x\"\")\"", "Ver.3.00TC", "Ver.3.01TC",
                           "0", "100", List().Text(0, 4), "1"}));
    EXPECT_EQ(csv[2].mid(0, 8), (QStringList{"b.example", "QX-100", "Ver.3.01TC", "", "-200", "-3",
                                             List().Text(1, 4), "1"}));
    for (const QStringList& line : {csv[1], csv[2]}) {
        EXPECT_FALSE(line[8].isEmpty());
        EXPECT_LE(line[8], line[9]);
        EXPECT_EQ(line[10], QStringLiteral("1"));
    }

    const QString unwritable = folder.filePath(QStringLiteral("missing/rewrite.csv"));
    answerer.ChooseFile(unwritable);
    answerer.Answer(QMessageBox::Ok);
    Click(Tools().SaveReportButton());
    ASSERT_EQ(answerer.messages.size(), 3u);
    EXPECT_EQ(answerer.messages[2].text,
              Text(L"FSTR-0125").arg(QString::fromStdString(std::strerror(ENOENT))));
    EXPECT_EQ(answerer.messages[2].icon, QMessageBox::Critical);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"rewrite.csv"});
}

// "Rewrite first 1" with no stop setting: the first device is a wave of its own, and its failure
// stops the rewrite before any other device is sent anything. The others end as not started,
// count as failed, and the report says what the rows say.
TEST_F(UpdatePageTest, FailedFirstDeviceLeavesTheOthersUntouched) {
    UpdatePage().CanaryCountBox().setValue(1);
    OnUpdate([this] {
        engine.model.At(L"a.example").script = {0, 40, -3};
        engine.settings.countedFailures = 1;  // it failed after its first part went out
    });
    StartRewrite();
    answerer.Answer(QMessageBox::Ok);
    ASSERT_TRUE(answerer.WaitForMessages(2));
    EXPECT_EQ(answerer.messages[1].text, Text(L"MSG-203"));
    EXPECT_EQ(engine.controller.updateTargets,
              (std::vector<std::vector<std::wstring>>{{L"a.example"}}));
    EXPECT_EQ(engine.settings.stopAfterFailures, 1);
    EXPECT_EQ(List().Text(0, 4), Text(L"STR-004"));
    for (int row = 1; row < 3; ++row) {
        EXPECT_EQ(List().Text(row, 4), Text(L"STR-020")) << row;
    }
    EXPECT_TRUE(UpdatePage().SummaryLine().text().startsWith(
        QStringLiteral("Done: 0   Failed: 3   Waiting: 0")))
        << UpdatePage().SummaryLine().text().toStdString();
    EXPECT_TRUE(UpdatePage().RolloutStatus().isVisible());
    EXPECT_EQ(UpdatePage().RolloutStatus().text(), Text(L"STR-320").arg(1));

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("canary.csv"));
    answerer.ChooseFile(path);
    Click(Tools().SaveReportButton());
    const std::vector<QStringList> csv = ReadCsv(path);
    ASSERT_EQ(csv.size(), 4u);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const QStringList& line = csv[static_cast<std::size_t>(row) + 1];
        EXPECT_EQ(line[0], List().Text(row, 0));
        EXPECT_EQ(line[4], QStringLiteral("-200"));
        EXPECT_EQ(line[6], List().Text(row, 4));
    }
    EXPECT_EQ(csv[1][7], QStringLiteral("1"));
    EXPECT_EQ(csv[2][5], QStringLiteral("-20"));

    // Failed as the filter and "Check failed only" see it; the engine's targets are the rows'
    // checks again, on this page and after the next visit.
    Tools().FilterBox().setCurrentIndex(1);
    EXPECT_EQ(ShownHosts(List()).size(), 3);
    Click(Dlg().BackButton());
    GoToUpdatePage();
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(List().IsChecked(row)) << row;
    }
    ASSERT_TRUE(Tools().CheckFailedButton().isEnabled());
}

// The stop setting counts over every wave: each wave's job is given the failures still allowed.
// Without either setting the engine is told not to stop.
TEST_F(UpdatePageTest, StopSettingGivesEachWaveTheFailuresStillAllowed) {
    UpdatePage().CanaryCountBox().setValue(1);
    UpdatePage().StopAfterFailuresBox().setValue(2);
    std::vector<int> allowedAtStarts;
    engine.controller.onUpdate = [this, &allowedAtStarts](const std::wstring&) {
        allowedAtStarts.push_back(engine.settings.stopAfterFailures);
        // Failures after the rewrite began: counted, and each device says so.
        if (allowedAtStarts.size() == 1) {
            engine.model.At(L"a.example").script = {0, -3};
            engine.model.At(L"a.example").values[L"failurecounted"] = L"true";
        } else {
            // The engine drains its job at the failure that uses up what was allowed.
            engine.model.At(L"b.example").script = {0, -3};
            engine.model.At(L"b.example").values[L"failurecounted"] = L"true";
            engine.model.At(L"c.example").script = {-20};
        }
        engine.settings.countedFailures = 1;
        return true;
    };
    StartRewrite();
    answerer.Answer(QMessageBox::Ok);
    ASSERT_TRUE(answerer.WaitForMessages(2));
    EXPECT_EQ(allowedAtStarts, (std::vector<int>{2, 1}));
    EXPECT_EQ(engine.controller.updateTargets, (std::vector<std::vector<std::wstring>>{
                                                   {L"a.example"}, {L"b.example", L"c.example"}}));
    EXPECT_EQ(List().Text(1, 4), Text(L"STR-004"));
    EXPECT_EQ(List().Text(2, 4), Text(L"STR-020"));
    EXPECT_EQ(UpdatePage().RolloutStatus().text(), Text(L"STR-320").arg(2));

    UpdatePage().CanaryCountBox().setValue(0);
    UpdatePage().StopAfterFailuresBox().setValue(0);
    OnUpdate([this] {
        for (auto& device : engine.model.devices) {
            device->script = {100};
        }
    });
    engine.settings.stopAfterFailures = 5;  // left from an earlier job
    engine.controller.onUpdate = [this, &allowedAtStarts,
                                  finish = engine.controller.onUpdate](const std::wstring& policy) {
        allowedAtStarts.push_back(engine.settings.stopAfterFailures);
        return finish(policy);
    };
    StartRewrite();
    answerer.Answer(QMessageBox::Ok);
    ASSERT_TRUE(answerer.WaitForMessages(4));
    EXPECT_EQ(answerer.messages[3].text, Text(L"MSG-202"));
    EXPECT_EQ(allowedAtStarts.back(), 0);
    EXPECT_EQ(engine.controller.updateTargets.back(),
              (std::vector<std::wstring>{L"a.example", L"b.example", L"c.example"}));
    EXPECT_FALSE(UpdatePage().RolloutStatus().isVisible());
}

// Closing the window while devices are rewritten asks to stop after the devices in progress:
// Yes starts no other device, lets the one in progress finish and then closes the window.
TEST_F(UpdatePageTest, ClosingStopsAfterTheDevicesInProgressAndClosesAfterThem) {
    OnUpdate([this] {
        engine.model.At(L"a.example").script = {0, 40};  // in progress until the test ends it
        engine.model.At(L"b.example").script = {0};
        engine.model.At(L"c.example").script = {0};
    });
    engine.settings.onStop = [this] {
        engine.model.At(L"b.example").script = {-20};
        engine.model.At(L"c.example").script = {-20};
    };
    StartRewrite();
    QPushButton& stop = UpdatePage().StopAfterDevicesInProgressButton();
    ASSERT_TRUE(WaitFor([&] { return stop.isVisible() && stop.isEnabled(); }));
    EXPECT_EQ(stop.accessibleName(), Text(L"FSTR-0324").remove(QLatin1Char('&')));
    answerer.Answer(QMessageBox::Yes);
    EXPECT_FALSE(Dlg().close());
    EXPECT_EQ(engine.settings.stopCalls, 1);
    EXPECT_FALSE(stop.isEnabled());
    ASSERT_TRUE(WaitFor([&] { return List().Text(2, 4) == Text(L"STR-020"); }));
    EXPECT_EQ(List().Text(1, 4), Text(L"STR-020"));
    EXPECT_TRUE(Dlg().isVisible());  // a still runs
    engine.model.At(L"a.example").script = {100};
    ASSERT_TRUE(WaitFor([&] { return !Dlg().isVisible(); }));
    EXPECT_EQ(List().Text(0, 4), QStringLiteral("Success"));
    EXPECT_EQ(answerer.messages.size(), 2u);  // the confirmation and the close; no closing box
}

// The number of devices at a time: remembered in the user's settings (which win), else the
// engine's start value; handed to the engine; locked while a job runs.
class DevicesAtATime : public WizardTest {
protected:
    static QSettings UserSettings() {
        return QSettings(QDir(qEnvironmentVariable("XDG_CONFIG_HOME"))
                             .filePath(QStringLiteral("TALBO/VortaFWUpdateTool.conf")),
                         QSettings::IniFormat);
    }
    void SetUp() override { UserSettings().clear(); }
    void TearDown() override {
        WizardTest::TearDown();
        UserSettings().clear();
    }

    void OpenUpdatePage() {
        ShowWizard(engine.Access());
        GoToDevicePage();
        AddDevice(QStringLiteral("a.example"));
        GoToUpdatePage();
    }

    QSpinBox& Box() { return UpdatePage().DevicesAtATimeBox(); }

    fake::Engine engine;
};

TEST_F(DevicesAtATime, RememberedValueWinsOverTheEnginesStartValue) {
    const struct {
        const char* remembered;  // null: nothing remembered
        int engineStart;
        int shown;
    } cases[] = {{nullptr, 4, 4}, {"8", 4, 8}, {"99", 3, 3}, {"many", 2, 2}, {"1", 16, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remembered != nullptr ? c.remembered : "nothing");
        dialog.reset();  // its rows point at the devices cleared below
        UserSettings().clear();
        if (c.remembered != nullptr) {
            UserSettings().setValue(QStringLiteral("update/devicesAtATime"),
                                    QString::fromLatin1(c.remembered));
        }
        engine.settings.devicesAtATime = c.engineStart;
        engine.model.devices.clear();
        OpenUpdatePage();
        EXPECT_EQ(Box().value(), c.shown);
        EXPECT_EQ(Box().minimum(), 1);
        EXPECT_EQ(Box().maximum(), 64);
        EXPECT_EQ(engine.settings.devicesAtATime, c.shown);
    }
}

TEST_F(DevicesAtATime, ChoiceIsRememberedHandedToTheEngineAndLockedWhileAJobRuns) {
    OpenUpdatePage();
    Box().setValue(6);
    EXPECT_EQ(engine.settings.devicesAtATime, 6);
    EXPECT_EQ(UserSettings().value(QStringLiteral("update/devicesAtATime")).toInt(), 6);

    engine.controller.onUpdate = [this](const std::wstring&) {
        engine.model.At(L"a.example").script = {0, 50};
        return true;
    };
    engine.settings.devicesAtATime = 1;  // as if something else had changed it meanwhile
    answerer.Answer(QMessageBox::Yes);
    Click(Dlg().UpdateButton());
    ASSERT_TRUE(WaitFor([&] { return !engine.controller.updatePolicies.empty(); }));
    EXPECT_EQ(engine.settings.setCalls.back(), 6);
    EXPECT_EQ(engine.settings.devicesAtATime, 6);
    EXPECT_FALSE(Box().isEnabled());
    answerer.Answer(QMessageBox::Ok);
    engine.model.At(L"a.example").script = {100};
    ASSERT_TRUE(answerer.WaitForMessages(2));
    EXPECT_TRUE(Box().isEnabled());

    // The next run of the wizard starts with the remembered choice.
    dialog.reset();
    engine.settings.devicesAtATime = 1;
    engine.model.devices.clear();
    OpenUpdatePage();
    EXPECT_EQ(Box().value(), 6);
    EXPECT_EQ(engine.settings.devicesAtATime, 6);
}

// How many devices are rewritten first and after how many failures the rewrite stops: 0 to 9999,
// remembered like the devices at a time, locked while a job runs; the stop reaches the engine
// before the job starts.
TEST_F(DevicesAtATime, RolloutLimitsAreRememberedAndTheStopReachesTheEngineBeforeTheStart) {
    UserSettings().setValue(QStringLiteral("update/canaryCount"), 5);
    UserSettings().setValue(QStringLiteral("update/stopAfterFailures"), QStringLiteral("many"));
    OpenUpdatePage();
    EXPECT_EQ(UpdatePage().CanaryCount(), 5);
    EXPECT_EQ(UpdatePage().StopAfterFailures(), 0);
    for (QSpinBox* box : {&UpdatePage().CanaryCountBox(), &UpdatePage().StopAfterFailuresBox()}) {
        EXPECT_EQ(box->minimum(), 0);
        EXPECT_EQ(box->maximum(), 9999);
        EXPECT_FALSE(box->specialValueText().isEmpty());  // 0 reads as "off", not as a number
    }
    // Both say what a first wave without a stop setting does.
    for (QSpinBox* box : {&UpdatePage().CanaryCountBox(), &UpdatePage().StopAfterFailuresBox()}) {
        EXPECT_TRUE(box->toolTip().contains(QStringLiteral("the first failed device stops")))
            << box->objectName().toStdString();
    }
    UpdatePage().CanaryCountBox().setValue(2);
    UpdatePage().StopAfterFailuresBox().setValue(3);
    EXPECT_EQ(UserSettings().value(QStringLiteral("update/canaryCount")).toInt(), 2);
    EXPECT_EQ(UserSettings().value(QStringLiteral("update/stopAfterFailures")).toInt(), 3);

    int stopAtStart = -1;
    engine.controller.onUpdate = [&](const std::wstring&) {
        stopAtStart = engine.settings.stopAfterFailures;
        engine.model.At(L"a.example").script = {0, 50};
        return true;
    };
    answerer.Answer(QMessageBox::Yes);
    Click(Dlg().UpdateButton());
    ASSERT_TRUE(WaitFor([&] { return !engine.controller.updatePolicies.empty(); }));
    EXPECT_EQ(stopAtStart, 3);
    EXPECT_FALSE(UpdatePage().StopAfterFailuresBox().isEnabled());
    answerer.Answer(QMessageBox::Ok);
    engine.model.At(L"a.example").script = {100};
    ASSERT_TRUE(answerer.WaitForMessages(2));

    dialog.reset();
    engine.model.devices.clear();
    OpenUpdatePage();
    EXPECT_EQ(UpdatePage().CanaryCount(), 2);
    EXPECT_EQ(UpdatePage().StopAfterFailures(), 3);
}

}  // namespace
}  // namespace wizardtest
