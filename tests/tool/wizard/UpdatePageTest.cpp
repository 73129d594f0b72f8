// The update page: confirmation, the image load on its worker (once per run), the rewrite
// followed row by row, the downgrade question and the closing message.
#include <QTest>
#include <QTimer>

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
        EXPECT_FALSE(List().isEnabled());
        EXPECT_FALSE(UpdatePage().AskButton().isEnabled());
        EXPECT_FALSE(UpdatePage().RewriteButton().isEnabled());
        EXPECT_FALSE(Dlg().close());
        QTest::keyClick(&Dlg(), Qt::Key_Escape);
        EXPECT_TRUE(Dlg().isVisible());
    }

    void ExpectUnlocked() {
        EXPECT_TRUE(Dlg().BackButton().isEnabled());
        EXPECT_TRUE(Dlg().UpdateButton().isEnabled());
        EXPECT_TRUE(Dlg().CancelButton().isEnabled());
        EXPECT_TRUE(Dlg().IsCloseEnabled());
        EXPECT_TRUE(List().isEnabled());
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
    ASSERT_TRUE(answerer.WaitForMessages(2));
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

TEST_F(UpdatePageTest, ProgressShowsThreePlacesAndAPercentSignWhileLocked) {
    EXPECT_EQ(CUpdatePage::ProgressText(0), QStringLiteral("  0%"));
    EXPECT_EQ(CUpdatePage::ProgressText(42), QStringLiteral(" 42%"));
    EXPECT_EQ(CUpdatePage::ProgressText(99), QStringLiteral(" 99%"));

    OnUpdate([this] {
        engine.model.At(L"a.example").script = {0, 7};
        engine.model.At(L"b.example").script = {100};
        engine.model.At(L"c.example").script = {100};
    });
    StartRewrite();
    ASSERT_TRUE(WaitFor([&] { return List().Text(0, 4) == QStringLiteral("  7%"); }));
    ExpectLocked("while a device is rewritten");
    // Later devices are reported only after the earlier ones, in list order.
    EXPECT_TRUE(List().Text(1, 4).isEmpty());

    answerer.Answer(QMessageBox::Ok);
    engine.model.At(L"a.example").script = {100};
    ASSERT_TRUE(answerer.WaitForMessages(2));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(List().Text(row, 4), QStringLiteral("Success")) << row;
    }
    ExpectUnlocked();
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
        answerer.whileOpen = [&](QMessageBox& box) {
            if (box.text() == Text(L"MSG-201")) {
                auto* timer = UpdatePage().findChild<QTimer*>(QStringLiteral("updatePollTimer"));
                timerStopped = timer != nullptr && !timer->isActive();
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

}  // namespace
}  // namespace wizardtest
