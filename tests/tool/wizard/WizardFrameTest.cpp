// The frame and the licence page: navigation, the button states of every page, Enter, Escape
// and Close, and pages that keep their state.
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

#include "FakeEngine.h"
#include "WizardDriver.h"
#include "tool/app/CUIStringTable.h"
#include "tool/wizard/UserSettings.h"

namespace wizardtest {
namespace {

class WizardFrame : public WizardTest {
protected:
    void SetUp() override { ShowWizard(engine.Access()); }

    fake::Engine engine;
};

struct ButtonStates {
    int page;
    bool backEnabled;
    bool nextShown;
    bool nextEnabled;
    bool updateShown;
    bool updateEnabled;
    bool cancelEnabled;
};

void ExpectButtons(CVortaFWUpdateToolUIDlg& dlg, const ButtonStates& want, const char* step) {
    SCOPED_TRACE(step);
    EXPECT_EQ(dlg.CurrentPage(), want.page);
    EXPECT_EQ(dlg.BackButton().isEnabled(), want.backEnabled);
    EXPECT_EQ(dlg.NextButton().isVisible(), want.nextShown);
    EXPECT_EQ(dlg.NextButton().isEnabled(), want.nextEnabled);
    EXPECT_EQ(dlg.UpdateButton().isVisible(), want.updateShown);
    EXPECT_EQ(dlg.UpdateButton().isEnabled(), want.updateEnabled);
    EXPECT_EQ(dlg.CancelButton().isEnabled(), want.cancelEnabled);
}

TEST_F(WizardFrame, OpensOnTheLicencePageWithDeclineChosenAndEveryText) {
    EXPECT_EQ(Dlg().windowTitle(), QStringLiteral("QX Vorta Ver.3.01TC Firmware Update Tool"));
    EXPECT_EQ(Dlg().BackButton().text(), QStringLiteral("&Back"));
    EXPECT_EQ(Dlg().NextButton().text(), QStringLiteral("&Next"));
    EXPECT_EQ(Dlg().UpdateButton().text(), QStringLiteral("Rewrite"));
    EXPECT_EQ(Dlg().CancelButton().text(), QStringLiteral("Cancel"));
    EXPECT_EQ(Dlg().PageCount(), 3);
    ExpectButtons(Dlg(), {0, false, true, false, false, false, true}, "first display");

    CEulaPage& eula = Dlg().EulaPage();
    EXPECT_TRUE(eula.DeclineButton().isChecked());
    EXPECT_EQ(Dlg().focusWidget(), &eula.DeclineButton());
    EXPECT_EQ(eula.AcceptButton().text(), Text(L"FSTR-0103"));
    EXPECT_EQ(eula.DeclineButton().text(), Text(L"FSTR-0104"));
    EXPECT_FALSE(Dlg().windowIcon().isNull());
}

TEST_F(WizardFrame, LicenceTextIsShownLineByLineReadOnly) {
    QPlainTextEdit& text = Dlg().EulaPage().LicenceText();
    EXPECT_TRUE(text.isReadOnly());
    const QString licence = Text(L"FSTR-0102");
    ASSERT_TRUE(licence.contains(QStringLiteral("\r\n")));
    EXPECT_FALSE(text.toPlainText().contains(QLatin1Char('\r')));
    EXPECT_EQ(text.document()->blockCount(), licence.count(QStringLiteral("\r\n")) + 1);
    QTest::keyClicks(&text, QStringLiteral("typed"));
    EXPECT_FALSE(text.toPlainText().contains(QStringLiteral("typed")));
}

TEST_F(WizardFrame, NextFollowsTheAcceptChoiceOnEveryClick) {
    CEulaPage& eula = Dlg().EulaPage();
    Click(eula.AcceptButton());
    EXPECT_TRUE(Dlg().NextButton().isEnabled());
    Click(eula.AcceptButton());
    EXPECT_TRUE(Dlg().NextButton().isEnabled());
    Click(eula.DeclineButton());
    EXPECT_FALSE(Dlg().NextButton().isEnabled());
    Click(Dlg().NextButton());
    EXPECT_EQ(Dlg().CurrentPage(), 0);
}

// Keyboards and assistive technologies change a choice without a click; Next must follow the
// choice's state whichever way it changed.
TEST_F(WizardFrame, NextFollowsTheAcceptChoiceHoweverItIsMade) {
    CEulaPage& eula = Dlg().EulaPage();
    eula.AcceptButton().setChecked(true);
    EXPECT_TRUE(Dlg().NextButton().isEnabled());
    eula.DeclineButton().toggle();
    EXPECT_FALSE(Dlg().NextButton().isEnabled());

    eula.DeclineButton().setFocus();
    QTest::keyClick(&eula.DeclineButton(), Qt::Key_Up);
    EXPECT_TRUE(eula.AcceptButton().isChecked());
    EXPECT_TRUE(Dlg().NextButton().isEnabled());

    // As a screen reader does it over the accessibility bus.
    eula.DeclineButton().setChecked(true);
    QAccessibleInterface* accept = QAccessible::queryAccessibleInterface(&eula.AcceptButton());
    ASSERT_NE(accept, nullptr);
    ASSERT_NE(accept->actionInterface(), nullptr);
    accept->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(eula.AcceptButton().isChecked());
    EXPECT_TRUE(Dlg().NextButton().isEnabled());
    Click(Dlg().NextButton());
    EXPECT_EQ(Dlg().CurrentPage(), 1);
}

TEST_F(WizardFrame, EveryControlHasAnAccessibleName) {
    int controls = 0;
    for (QWidget* widget : Dlg().findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                             qobject_cast<QLineEdit*>(widget) != nullptr ||
                             qobject_cast<QPlainTextEdit*>(widget) != nullptr ||
                             qobject_cast<QAbstractSpinBox*>(widget) != nullptr ||
                             qobject_cast<QComboBox*>(widget) != nullptr ||
                             qobject_cast<QGroupBox*>(widget) != nullptr ||
                             (qobject_cast<QAbstractItemView*>(widget) != nullptr &&
                              qobject_cast<QHeaderView*>(widget) == nullptr);
        // Parts that Qt builds inside a control (the spin box's entry) are named by the control.
        if (!control || widget->objectName().startsWith(QLatin1String("qt_"))) {
            continue;
        }
        ++controls;
        EXPECT_FALSE(widget->accessibleName().isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
        EXPECT_FALSE(widget->accessibleName().contains(QLatin1Char('&')))
            << widget->objectName().toStdString();
    }
    EXPECT_GE(controls, 29);
}

TEST_F(WizardFrame, ButtonStatesAcrossBackNextAndUpdate) {
    ExpectButtons(Dlg(), {0, false, true, false, false, false, true}, "licence, declined");
    Click(Dlg().EulaPage().AcceptButton());
    ExpectButtons(Dlg(), {0, false, true, true, false, false, true}, "licence, accepted");
    Click(Dlg().NextButton());
    ExpectButtons(Dlg(), {1, true, true, false, false, false, true}, "device page, empty list");
    EXPECT_EQ(Dlg().focusWidget(), &DevicePage().NameEntry());
    AddDevice(QStringLiteral("dev1.example"));
    ExpectButtons(Dlg(), {1, true, true, true, false, false, true}, "device page, one row");
    Click(Dlg().NextButton());
    ExpectButtons(Dlg(), {2, true, false, false, true, true, true}, "update page");
    EXPECT_EQ(Dlg().focusWidget(), &Dlg().UpdateButton());
    Click(Dlg().BackButton());
    ExpectButtons(Dlg(), {1, true, true, true, false, false, true}, "back on the device page");
    Click(Dlg().BackButton());
    ExpectButtons(Dlg(), {0, false, true, true, false, false, true}, "back on the licence page");
    EXPECT_TRUE(Dlg().EulaPage().AcceptButton().isChecked());
    EXPECT_EQ(Dlg().focusWidget(), &Dlg().EulaPage().AcceptButton());
    // The pages were made once: the device list kept its row.
    Click(Dlg().NextButton());
    EXPECT_EQ(DevicePage().List().RowCount(), 1);
    EXPECT_TRUE(Dlg().NextButton().isEnabled());
}

TEST_F(WizardFrame, EnterDoesNothingOnAnyPage) {
    Click(Dlg().EulaPage().AcceptButton());
    Dlg().NextButton().setFocus();
    QTest::keyClick(&Dlg().NextButton(), Qt::Key_Return);
    QTest::keyClick(&Dlg().NextButton(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(Dlg().CurrentPage(), 0);
    EXPECT_TRUE(Dlg().isVisible());

    Click(Dlg().NextButton());
    DevicePage().NameEntry().setText(QStringLiteral("dev1.example"));
    QTest::keyClick(&DevicePage().NameEntry(), Qt::Key_Return);
    EXPECT_EQ(DevicePage().List().RowCount(), 0);
    AddDevice(QStringLiteral("dev1.example"));
    Click(Dlg().NextButton());
    QTest::keyClick(&Dlg().UpdateButton(), Qt::Key_Return);
    EXPECT_TRUE(answerer.messages.empty());  // the rewrite was not asked for
    EXPECT_EQ(Dlg().CurrentPage(), 2);
    EXPECT_TRUE(Dlg().isVisible());
}

TEST_F(WizardFrame, EscapeInTheLicenceTextEndsTheWizardLikeCancel) {
    QTest::keyClick(&Dlg().EulaPage().LicenceText(), Qt::Key_Escape);
    EXPECT_FALSE(Dlg().isVisible());
    EXPECT_EQ(Dlg().result(), QDialog::Rejected);
}

TEST_F(WizardFrame, CancelAndCloseEndTheWizardOnAnyPageWithoutAQuestion) {
    Click(Dlg().EulaPage().AcceptButton());
    Click(Dlg().NextButton());
    EXPECT_TRUE(Dlg().close());
    EXPECT_FALSE(Dlg().isVisible());

    Dlg().show();
    Click(Dlg().CancelButton());
    EXPECT_FALSE(Dlg().isVisible());
    EXPECT_TRUE(answerer.messages.empty());
}

// At the window's minimum size every page still has room for all of its controls.
void ExpectPagesFitTheMinimum(CVortaFWUpdateToolUIDlg& dialog) {
    const QSize needed = dialog.layout()->minimumSize();
    EXPECT_LE(needed.width(), dialog.minimumWidth());
    EXPECT_LE(needed.height(), dialog.minimumHeight());
}

TEST_F(WizardFrame, LayoutKeepsADesktopSizedMinimum) {
    EXPECT_GE(Dlg().minimumWidth(), 400);
    EXPECT_GE(Dlg().minimumHeight(), 250);
    EXPECT_EQ(DevicePage().List().Rows().columnCount(), 4);
    EXPECT_EQ(UpdatePage().List().Rows().columnCount(), 5);
    EXPECT_EQ(DevicePage().List().columnWidth(0), 120);
    EXPECT_EQ(UpdatePage().List().Rows().headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(),
              Text(L"FSTR-0305"));
    ExpectPagesFitTheMinimum(Dlg());
}

// The window opens as it was left, by Cancel or otherwise; a remembered place that is off every
// screen or smaller than the window's minimum gives a window that is on a screen and whole.
TEST_F(WizardFrame, OpensWithTheRememberedSizeAndPositionWhereTheyAreUsable) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect left(screen.topLeft() + QPoint(40, 30), Dlg().minimumSize() + QSize(60, 40));
    Dlg().setGeometry(left);
    Click(Dlg().CancelButton());
    dialog.reset();
    ShowWizard(engine.Access());
    EXPECT_EQ(Dlg().geometry(), left);
    Dlg().resize(Dlg().minimumSize() + QSize(10, 10));
    dialog.reset();  // destroyed while shown
    ShowWizard(engine.Access());
    EXPECT_EQ(Dlg().size(), Dlg().minimumSize() + QSize(10, 10));

    const QRect unusable[] = {QRect(screen.right() + 3000, screen.bottom() + 3000, 700, 500),
                              QRect(screen.topLeft() + QPoint(5, 5), QSize(120, 80))};
    for (const QRect& remembered : unusable) {
        SCOPED_TRACE(remembered.x());
        dialog.reset();
        QWidget elsewhere;
        elsewhere.setGeometry(remembered);
        UserSettings().setValue(QStringLiteral("window/geometry"), elsewhere.saveGeometry());
        ShowWizard(engine.Access());
        EXPECT_GE(Dlg().width(), Dlg().minimumWidth());
        EXPECT_GE(Dlg().height(), Dlg().minimumHeight());
        EXPECT_TRUE(screen.intersects(Dlg().frameGeometry()));
    }
}

// The Japanese interface: every text from the Japanese file, and a font that shows it.
class JapaneseWizard : public ::testing::Test {
protected:
    void SetUp() override { LoadStrings("ja"); }
    void TearDown() override { LoadStrings("en"); }

    static void LoadStrings(const char* language) {
        namespace tv = talbo::tesk::vorta;
        const std::filesystem::path dir =
            std::filesystem::path(VORTA_SOURCE_DIR) / "tool" / "resources" / language;
        tv::CUIStringTable& table = tv::CUIStringTable::GetInstance();
        table.LoadDefaults();
        table.LoadFile(dir / "ui.lng");
        table.LoadLicenceText(dir / "eula.txt", std::string(language) == "ja"
                                                    ? tv::CUIStringTable::LicenceEncoding::Cp932
                                                    : tv::CUIStringTable::LicenceEncoding::Ascii);
    }
};

TEST_F(JapaneseWizard, ShowsTheJapaneseTextsInAFontThatHasTheirGlyphs) {
    fake::Engine engine;
    CVortaFWUpdateToolUIDlg dialog(engine.Access());
    EXPECT_EQ(dialog.BackButton().text(), QStringLiteral("戻る(&B)"));
    EXPECT_EQ(dialog.NextButton().text(), QStringLiteral("次へ(&N)"));
    EXPECT_EQ(dialog.EulaPage().AcceptButton().text(),
              QStringLiteral("使用許諾契約の全条項に同意します。"));
    EXPECT_FALSE(dialog.EulaPage().LicenceText().toPlainText().isEmpty());
    EXPECT_EQ(dialog.DevicePage().ListTools().CheckFailedButton().text(),
              QStringLiteral("失敗のみチェック(&F)"));
    EXPECT_EQ(dialog.UpdatePage().StopAfterFailuresBox().specialValueText(),
              QStringLiteral("なし"));
    EXPECT_TRUE(dialog.UpdatePage().StopAfterFailuresBox().toolTip().contains(
        QStringLiteral("最初に失敗した機器で停止")));
    ExpectPagesFitTheMinimum(dialog);
    EXPECT_FALSE(QFontDatabase::families(QFontDatabase::Japanese).isEmpty())
        << "no font for Japanese: scripts/install-deps installs fonts-noto-cjk";
}

}  // namespace
}  // namespace wizardtest
