// The file-dialog filter conversion, the device lists' natural order, the single-instance raise and
// the end on stop signals.
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "FakeEngine.h"
#include "WizardDriver.h"
#include "tool/app/SingleInstanceLock.h"
#include "tool/cli/StopSignals.h"
#include "tool/wizard/CDeviceListProxy.h"
#include "tool/wizard/EndOnStopSignal.h"
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

TEST(DeviceListOrder, RunsOfDigitsCompareAsNumbersAndLettersWithoutCase) {
    const struct {
        const char* left;
        const char* right;
        int sign;
    } cases[] = {
        {"device-2", "device-10", -1},
        {"device-10", "device-9", 1},
        {"10.0.0.9", "10.0.0.10", -1},
        {"Device-1", "device-2", -1},
        {"lab", "LAB-1", -1},
        {"a007", "a7", -1},
        {"a007", "a8", -1},
        {"x", "x1", -1},
        {"same", "same", 0},
    };
    for (const auto& c : cases) {
        const int result = CDeviceListProxy::CompareNaturally(QString::fromLatin1(c.left),
                                                              QString::fromLatin1(c.right));
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.left << " " << c.right;
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

TEST(RaiseOnRequest, SilentRequesterDoesNotHoldUpTheEventLoop) {
    namespace tv = talbo::tesk::vorta;
    const std::string name = "wizard-silent-" + std::to_string(::getpid());
    tv::SingleInstanceLock lock(name);
    ASSERT_TRUE(lock.Acquired());
    QWidget window;
    new RaiseOnRequest(window, lock);
    window.show();
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());

    // Connects first and never sends its request.
    sockaddr_un address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(lock.ListenSocket(), reinterpret_cast<sockaddr*>(&address), &length),
              0);
    const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(silent, reinterpret_cast<const sockaddr*>(&address), length), 0);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(tv::SingleInstanceLock::AskHolderToRaise(name));
    EXPECT_TRUE(wizardtest::WaitFor([&] { return !window.isMinimized(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    ::close(silent);
}

// Logout, shutdown or Ctrl-C end the wizard even while a job runs (Cancel and Close refused)
// and a message box is open above it.
TEST(EndOnStopSignal, EachStopSignalEndsTheWizardAndItsOpenBox) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(::strsignal(signal));
        talbo::tesk::vorta::StopSignals stopSignals;
        ASSERT_TRUE(stopSignals.Active());
        fake::Engine engine;
        CVortaFWUpdateToolUIDlg wizard(engine.Access());
        wizard.CancelButton().setEnabled(false);
        wizard.SetCloseEnabled(false);
        new EndOnStopSignal(wizard, stopSignals);
        bool boxReturned = false;
        QTimer::singleShot(0, &wizard, [&] {
            QMessageBox box(QMessageBox::Question, QStringLiteral("caption"),
                            QStringLiteral("open when the signal comes"),
                            QMessageBox::Yes | QMessageBox::No, &wizard);
            QTimer::singleShot(0, [signal] { ::raise(signal); });
            box.exec();
            boxReturned = true;
        });
        // Should the signal be lost, end everything after a while so the test fails, not hangs.
        QTimer::singleShot(10000, &wizard, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QDialog*>(widget)) {
                    dialog->done(99);
                }
            }
        });
        EXPECT_EQ(wizard.exec(), QDialog::Rejected);
        EXPECT_TRUE(boxReturned);
    }
}

// A closed terminal sends SIGHUP twice (from the shell and from the kernel): one stop, never
// the second one that ends a rewrite now. And with the standard streams closed, the tool's own
// output never reaches the signal pipe.
TEST(StopSignals, AHangupCountsOnlyAsTheFirstStopAndTheStreamsNeverReachThePipe) {
    {
        talbo::tesk::vorta::StopSignals stopSignals;
        ::raise(SIGHUP);
        ::raise(SIGHUP);
        EXPECT_EQ(stopSignals.Take(), 1);
        ::raise(SIGHUP);
        EXPECT_EQ(stopSignals.Take(), 0);
        ::raise(SIGINT);
        EXPECT_EQ(stopSignals.Take(), 1);  // a deliberate second stop still counts
    }
    {
        talbo::tesk::vorta::StopSignals stopSignals;
        ::raise(SIGTERM);
        ::raise(SIGHUP);
        EXPECT_EQ(stopSignals.Take(), 1);
    }
    const int savedOut = ::dup(STDOUT_FILENO);
    ::close(STDOUT_FILENO);
    {
        talbo::tesk::vorta::StopSignals stopSignals;
        EXPECT_GT(stopSignals.ReadFd(), STDERR_FILENO);
        EXPECT_EQ(::write(STDOUT_FILENO, "device line\n", 12), -1);  // closed, not the pipe
        EXPECT_EQ(stopSignals.Take(), 0);
    }
    ::dup2(savedOut, STDOUT_FILENO);
    ::close(savedOut);
}

}  // namespace
