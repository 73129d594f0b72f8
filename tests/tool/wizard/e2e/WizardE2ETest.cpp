// The real wizard over the built engine, against simulated devices: the access test and a
// rewrite with the downgrade question, as an operator would go through them, and a fleet
// rewritten several devices at a time.
#include <QSettings>
#include <QSpinBox>
#include <QTest>

#include <atomic>
#include <cstdlib>

#include "RealEngine.h"
#include "SimulatorProcess.h"
#include "WizardDriver.h"

namespace wizardtest {
namespace {

namespace fs = std::filesystem;

RealEngine& Engine() {
    static RealEngine* engine = [] {
        // Simulated devices restart in a fraction of a second; the model reads these when a
        // device is registered.
        ::setenv("VORTA_REBOOT_FIRST_WAIT_MS", "150", 1);
        ::setenv("VORTA_REBOOT_RETRY_WAIT_MS", "100", 1);
        ::setenv("VORTA_REBOOT_RETRY_MAX", "20", 1);
        return new RealEngine(fs::path(VORTA_MODULE_PATH));
    }();
    return *engine;
}

constexpr int kJobMs = 120000;

class WizardE2E : public WizardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(Engine().Loaded()) << Engine().Error();
        const nlohmann::json fleet = {{"defaults", {{"restart-ms", 200}}},
                                      {"devices",
                                       {{{"host", "w-old.invalid"}},
                                        {{"host", "w-newer.invalid"}, {"firmware", "Ver.3.02TC"}},
                                        {{"host", "w-fleet-1.invalid"}},
                                        {{"host", "w-fleet-2.invalid"}},
                                        {{"host", "w-fleet-3.invalid"}},
                                        {{"host", "w-fleet-4.invalid"}}}}};
        sim = std::make_unique<devsim_test::SimulatorProcess>(
            std::vector<std::string>{"--fleet", folder.Write("fleet.json", fleet.dump()).string(),
                                     "--image", VORTA_CARRIED_IMAGE_PATH});
        ASSERT_TRUE(sim->Started()) << sim->StandardError();
        const std::string proxy = "http://127.0.0.1:" + std::to_string(sim->Port());
        ::setenv("http_proxy", proxy.c_str(), 1);
        ::unsetenv("no_proxy");

        WizardEngineAccess access = Engine().Access(fs::path(VORTA_CARRIED_IMAGE_PATH));
        access.extractAndLoadImage = [this, load = access.extractAndLoadImage](const fs::path& p) {
            ++imageLoads;
            return load(p);
        };
        ShowWizard(std::move(access));
    }
    void TearDown() override {
        WizardTest::TearDown();
        ::unsetenv("http_proxy");
        // The engine outlives the test; later tests start from one device at a time again.
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("TALBO"),
                  QStringLiteral("VortaFWUpdateTool"))
            .clear();
        if (auto* settings = Engine().Access(fs::path(VORTA_CARRIED_IMAGE_PATH)).Settings()) {
            settings->SetDevicesAtATime(1);
        }
    }

    int Row(CDeviceListView& list, const QString& host) const {
        for (int row = 0; row < list.RowCount(); ++row) {
            if (list.Text(row, 0) == host) {
                return row;
            }
        }
        return -1;
    }

    devsim_test::TempFolder folder;
    std::unique_ptr<devsim_test::SimulatorProcess> sim;
    std::atomic<int> imageLoads{0};
};

}  // namespace

TEST_F(WizardE2E, AccessTestThenRewriteAnsweringTheDowngradeQuestion) {
    GoToDevicePage();
    for (const char* host : {"w-old.invalid", "w-newer.invalid", "w-gone.invalid"}) {
        AddDevice(QString::fromLatin1(host));
    }
    CDeviceListView& devices = DevicePage().List();
    answerer.Answer(QMessageBox::Ok);
    Click(DevicePage().TestButton());
    ASSERT_TRUE(answerer.WaitForMessages(1, kJobMs));
    EXPECT_EQ(answerer.messages.back().text, Text(L"MSG-103"));  // one device is not there
    EXPECT_EQ(devices.Text(Row(devices, "w-gone.invalid"), 3), Text(L"STR-004"));
    EXPECT_EQ(devices.Text(Row(devices, "w-old.invalid"), 3), Text(L"STR-001"));
    EXPECT_EQ(devices.Text(Row(devices, "w-old.invalid"), 1), "QX-Vorta-1000");
    EXPECT_EQ(devices.Text(Row(devices, "w-newer.invalid"), 2), "Ver.3.02TC");
    EXPECT_TRUE(Dlg().NextButton().isEnabled());

    SetRowChecked(devices, Row(devices, "w-gone.invalid"), false);
    GoToUpdatePage();
    CDeviceListView& updates = UpdatePage().List();
    EXPECT_FALSE(updates.IsChecked(Row(updates, "w-gone.invalid")));

    // Yes to the confirmation and to the downgrade question, OK to the closing message.
    answerer.Answer(QMessageBox::Yes);
    answerer.Answer(QMessageBox::Yes);
    answerer.Answer(QMessageBox::Ok);
    Click(Dlg().UpdateButton());
    ASSERT_TRUE(answerer.WaitForMessages(4, kJobMs));
    EXPECT_EQ(answerer.messages[1].text, Text(L"MSG-200"));
    EXPECT_EQ(answerer.messages[2].text, Text(L"MSG-201"));
    EXPECT_EQ(answerer.messages[3].text, Text(L"MSG-202"));
    EXPECT_EQ(updates.Text(Row(updates, "w-old.invalid"), 4), Text(L"STR-001"));
    EXPECT_EQ(updates.Text(Row(updates, "w-newer.invalid"), 4), Text(L"STR-001"));
    EXPECT_EQ(updates.Text(Row(updates, "w-old.invalid"), 3), "Ver.3.01TC");
    EXPECT_EQ(imageLoads.load(), 1);

    // A second rewrite in the same run starts at once, without loading the image again; the
    // devices now run the image's version, so nothing is newer and nothing is asked.
    answerer.Answer(QMessageBox::Yes);
    answerer.Answer(QMessageBox::Ok);
    Click(Dlg().UpdateButton());
    ASSERT_TRUE(answerer.WaitForMessages(6, kJobMs));
    EXPECT_EQ(answerer.messages[5].text, Text(L"MSG-202"));
    EXPECT_EQ(imageLoads.load(), 1);
    EXPECT_TRUE(Dlg().CancelButton().isEnabled());
}

TEST_F(WizardE2E, FleetRewrittenFourAtATimeShowsEachRowsStepsAndEndsWhenAllHaveEnded) {
    GoToDevicePage();
    const QStringList fleet = {"w-fleet-1.invalid", "w-fleet-2.invalid", "w-fleet-3.invalid",
                               "w-fleet-4.invalid"};
    for (const QString& host : fleet) {
        AddDevice(host);
    }
    GoToUpdatePage();
    // The engine stays loaded between tests: devices of earlier tests stay out of this one.
    CDeviceListView& updates = UpdatePage().List();
    for (int row = 0; row < updates.RowCount(); ++row) {
        SetRowChecked(updates, row, fleet.contains(updates.Text(row, 0)));
    }
    Click(UpdatePage().RewriteButton());
    UpdatePage().DevicesAtATimeBox().setValue(4);
    ASSERT_EQ(Engine().Access(fs::path(VORTA_CARRIED_IMAGE_PATH)).Settings()->GetDevicesAtATime(),
              4);

    int mostRunningAtOnce = 0;
    bool sawPart = false;
    bool sawRestart = false;
    answerer.Answer(QMessageBox::Yes);
    answerer.Answer(QMessageBox::Ok);
    Click(Dlg().UpdateButton());
    const bool ended = WaitFor(
        [&] {
            int running = 0;
            for (int row = 0; row < updates.RowCount(); ++row) {
                const QModelIndex cell = updates.Rows().index(row, 4);
                running += updates.Rows().data(cell, CDeviceListModel::kProgressRole).isValid();
                const QString text = updates.Text(row, 4);
                sawPart = sawPart || text.contains(QStringLiteral(" of 11"));
                sawRestart = sawRestart || text.endsWith(QStringLiteral("waiting for restart"));
            }
            mostRunningAtOnce = std::max(mostRunningAtOnce, running);
            return answerer.messages.size() >= 2;
        },
        kJobMs);
    ASSERT_TRUE(ended);
    EXPECT_EQ(answerer.messages[1].text, Text(L"MSG-202"));
    for (const QString& host : fleet) {
        EXPECT_EQ(updates.Text(Row(updates, host), 4), Text(L"STR-001")) << host.toStdString();
        EXPECT_EQ(updates.Text(Row(updates, host), 2), "Ver.3.01TC") << host.toStdString();
    }
    EXPECT_GE(mostRunningAtOnce, 2);
    EXPECT_TRUE(sawPart);
    EXPECT_TRUE(sawRestart);
    EXPECT_TRUE(UpdatePage().SummaryLine().text().startsWith(
        QStringLiteral("Done: 4   Failed: 0   Waiting: 0")))
        << UpdatePage().SummaryLine().text().toStdString();
}

}  // namespace wizardtest
