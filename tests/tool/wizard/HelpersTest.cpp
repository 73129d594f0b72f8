// The file-dialog filter conversion and the single-instance raise.
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>
#include <unistd.h>

#include "WizardDriver.h"
#include "tool/app/SingleInstanceLock.h"
#include "tool/wizard/FileDialogFilter.h"
#include "tool/wizard/RaiseOnRequest.h"

namespace {

TEST(FileDialogFilter, TurnsBarSeparatedPairsIntoQtNameFilters) {
    const struct {
        const char* input;
        QStringList expected;
    } cases[] = {
        {"Device List File(*.txt)|*.txt||", {"Device List File(*.txt)"}},
        {"デバイスリストファイル(*.txt)|*.txt||", {"デバイスリストファイル(*.txt)"}},
        {"Lists|*.txt;*.lst|All files|*.*||", {"Lists (*.txt *.lst)", "All files (*.*)"}},
        {"Text (*.txt)|*.txt", {"Text (*.txt)"}},
        {"Other (*.csv)|*.txt||", {"Other (*.csv) (*.txt)"}},
        {"No pattern||", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToQtNameFilters(QString::fromUtf8(c.input)), c.expected) << c.input;
    }
}

TEST(RaiseOnRequest, SecondStartBringsTheWindowBack) {
    namespace tv = talbo::tesk::vorta;
    const std::string name = "wizard-test-" + std::to_string(::getpid());
    tv::SingleInstanceLock lock(name);
    ASSERT_TRUE(lock.Acquired());
    QWidget window;
    new RaiseOnRequest(window, lock);
    window.show();
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());

    ASSERT_TRUE(tv::SingleInstanceLock::AskHolderToRaise(name));
    EXPECT_TRUE(wizardtest::WaitFor([&] { return !window.isMinimized(); }));
    EXPECT_TRUE(window.isVisible());
}

}  // namespace
