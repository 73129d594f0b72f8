// wizard_fleet_bench [--devices N] [--seconds S]
//
// The wizard (offscreen) with a fleet of N devices (default 10,000):
// 1. Import: the built engine library, a list file of N host names chosen in the device page's
//    file dialog; from the page's first registration (AddDevice, after the tool has read the
//    file) until the rows are painted, wall time and the process's CPU time, with the engine's
//    own share (its registrations, and the look-ups of the devices by name); then the update
//    page's first showing with those rows.
// 2. Polling: the wizard over the tests' stand-in engine, whose devices move as a job does (64
//    at a time, a step every 250 ms); S seconds (default 10) of an access test on the device page
//    and of a rewrite on the update page, as the share of one core the process used.
// Exits 3 when the rows take longer than one second to show beside the engine's registrations.
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FakeEngine.h"
#include "RealEngine.h"
#include "WizardDriver.h"
#include "tool/app/CUIStringTable.h"
#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"

namespace {

namespace fs = std::filesystem;
namespace tv = talbo::tesk::vorta;

constexpr double kMaxImportSeconds = 1.0;
constexpr int kDevicesAtATime = 64;
constexpr int kPollMs = 250;

double CpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double WallSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The engine's model with its registrations timed; everything else passes through.
class TimedModel : public tv::CUpdateModelExport {
public:
    explicit TimedModel(tv::CUpdateModelExport& inner) : inner(inner) {}

    bool LoadUpdateImage(const wchar_t* path) override { return inner.LoadUpdateImage(path); }
    // Only the wall clock per call: reading the process's CPU clock is a system call, which
    // would cost more than some registrations.
    bool AddDevice(const wchar_t* hostName) override {
        if (startWall == 0) {
            startCpu = CpuSeconds();
        }
        const double wall = WallSeconds();
        startWall = startWall == 0 ? wall : startWall;
        const bool added = inner.AddDevice(hostName);
        engineSeconds += WallSeconds() - wall;
        return added;
    }
    bool ImportDeviceList(const wchar_t* path) override { return inner.ImportDeviceList(path); }
    tv::CHostNameIterator GetHostNameIterator() override { return inner.GetHostNameIterator(); }
    tv::CDevInfoIF* GetDeviceInfo(const wchar_t* hostName) override {
        const double start = WallSeconds();
        tv::CDevInfoIF* device = inner.GetDeviceInfo(hostName);
        lookupSeconds += WallSeconds() - start;
        return device;
    }
    int GetProgress(const wchar_t* hostName) override { return inner.GetProgress(hostName); }
    bool SetUpdateTarget(const wchar_t* hostName, bool update) override {
        return inner.SetUpdateTarget(hostName, update);
    }

    double startWall = 0;  // at the first registration
    double startCpu = 0;
    double engineSeconds = 0;  // inside the engine's AddDevice, all calls together
    // Time spent finding devices by name (the engine walks its list for each).
    double lookupSeconds = 0;

private:
    tv::CUpdateModelExport& inner;
};

// Drives the wizard as the tests do, outside a test.
class Driver : public wizardtest::WizardTest {
public:
    void TestBody() override {}
    void Show(WizardEngineAccess access) { ShowWizard(std::move(access)); }
    using WizardTest::answerer;
    using WizardTest::Click;
    using WizardTest::dialog;
    using WizardTest::GoToDevicePage;
    using WizardTest::GoToUpdatePage;
    using WizardTest::TearDown;
};

void Paint(CVortaFWUpdateToolUIDlg& dialog) {
    QApplication::processEvents();
    dialog.repaint();
}

bool MeasureImport(int devices, const fs::path& folder) {
    wizardtest::RealEngine engine{fs::path(VORTA_MODULE_PATH)};
    if (!engine.Loaded()) {
        std::fprintf(stderr, "wizard_fleet_bench: %s\n", engine.Error().c_str());
        return false;
    }
    const fs::path list = folder / "fleet.txt";
    {
        std::ofstream out(list);
        for (int i = 1; i <= devices; ++i) {
            out << "device-" << i << ".site.invalid\r\n";
        }
    }
    WizardEngineAccess access = engine.Access(fs::path());
    TimedModel model(*access.Model());
    access.model = [&model] { return &model; };

    Driver driver;
    driver.Show(std::move(access));
    driver.GoToDevicePage();
    driver.answerer.ChooseFile(QString::fromStdString(list.string()));
    driver.Click(driver.dialog->DevicePage().BrowseButton());
    Paint(*driver.dialog);
    const double shownWall = WallSeconds() - model.startWall;
    const double shownCpu = CpuSeconds() - model.startCpu;
    const int rows = driver.dialog->DevicePage().List().RowCount();
    const double importLookups = model.lookupSeconds;

    const double pageStart = WallSeconds();
    model.lookupSeconds = 0;
    driver.GoToUpdatePage();
    Paint(*driver.dialog);
    const double pageSeconds = WallSeconds() - pageStart;

    const double afterImport = shownWall - model.engineSeconds;
    std::printf(
        "import of %d devices: rows shown in %.3f s besides the engine's registrations (%.3f s "
        "and CPU %.3f s after the first); the engine's AddDevice calls %.3f s, its "
        "look-ups by name for the rows %.3f s; rows %d\n",
        devices, afterImport, shownWall, shownCpu, model.engineSeconds, importLookups, rows);
    std::printf("update page first shown with %d rows: %.3f s (engine's look-ups by name %.3f s)\n",
                driver.dialog->UpdatePage().List().RowCount(), pageSeconds, model.lookupSeconds);
    driver.TearDown();
    const bool met = rows == devices && afterImport <= kMaxImportSeconds;
    if (!met) {
        std::printf("  target missed: rows shown within %.1f s after the import\n",
                    kMaxImportSeconds);
    }
    return met;
}

// Moves the stand-in's devices as a job with 64 devices at a time does: each running device
// takes a step every 250 ms (stepSize percent, with the step's name), ends at 100, and the next
// waiting device starts.
class FleetMotion {
public:
    FleetMotion(fake::Engine& engine, int stepSize) : engine(engine), stepSize(stepSize) {
        for (auto& device : engine.model.devices) {
            device->script.clear();
            device->progress = 0;
            device->values[L"phase"] = L"";
        }
        timer.setInterval(kPollMs);
        QObject::connect(&timer, &QTimer::timeout, [this] { Step(); });
        timer.start();
    }

private:
    void Step() {
        auto& devices = engine.model.devices;
        for (std::size_t i = 0; i < running.size();) {
            fake::Device& device = *devices[running[i]];
            device.progress = std::min(100, device.progress + stepSize);
            const int part = device.progress * 11 / 100 + 1;
            device.values[L"phase"] =
                device.progress == 100 ? L"" : L"upload " + std::to_wstring(part) + L"/11";
            if (device.progress == 100) {
                running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        while (running.size() < kDevicesAtATime && next < devices.size()) {
            devices[next]->values[L"phase"] = L"test";
            running.push_back(next++);
        }
    }

    fake::Engine& engine;
    int stepSize;
    std::vector<std::size_t> running;
    std::size_t next = 0;
    QTimer timer;
};

double CpuShareFor(int seconds) {
    const double wall = WallSeconds();
    const double cpu = CpuSeconds();
    QTest::qWait(seconds * 1000);
    return (CpuSeconds() - cpu) / (WallSeconds() - wall);
}

// A wizard over the stand-in engine with the fleet's list file imported on the device page.
void ShowWithFleet(Driver& driver, fake::Engine& engine, const fs::path& list) {
    driver.Show(engine.Access());
    driver.GoToDevicePage();
    driver.answerer.ChooseFile(QString::fromStdString(list.string()));
    driver.Click(driver.dialog->DevicePage().BrowseButton());
}

void MeasurePolling(int devices, int seconds, const fs::path& folder) {
    const fs::path list = folder / "fleet.txt";
    fake::Engine engine;
    engine.controller.onTest = [] { return true; };
    engine.controller.onUpdate = [](const std::wstring&) { return true; };
    {
        Driver driver;
        ShowWithFleet(driver, engine, list);
        std::printf("wizard idle with %d rows: %.1f %% of a core\n", devices,
                    CpuShareFor(seconds) * 100);
        FleetMotion motion(engine, 20);
        driver.Click(driver.dialog->DevicePage().TestButton());
        std::printf("access test polling, %d rows, 64 devices at a time: %.1f %% of a core\n",
                    devices, CpuShareFor(seconds) * 100);
        driver.dialog.reset();  // ends the polling with the test still running
    }
    Driver driver;
    ShowWithFleet(driver, engine, list);
    driver.GoToUpdatePage();
    driver.answerer.Answer(QMessageBox::Yes);
    FleetMotion motion(engine, 5);
    driver.Click(driver.dialog->UpdateButton());
    std::printf("rewrite polling, %d rows, 64 devices at a time: %.1f %% of a core\n", devices,
                CpuShareFor(seconds) * 100);
    driver.dialog.reset();
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 10000;
    int seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--devices") == 0) {
            devices = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ::unsetenv("http_proxy");  // nothing here talks to a device
    QApplication application(argc, argv);
    const fs::path resources = fs::path(VORTA_SOURCE_DIR) / "tool" / "resources";
    tv::CUIStringTable& table = tv::CUIStringTable::GetInstance();
    table.LoadDefaults();
    table.LoadFile(resources / "en" / "ui.lng");

    std::string folderTemplate = fs::temp_directory_path() / "wizard-bench-XXXXXX";
    if (::mkdtemp(folderTemplate.data()) == nullptr) {
        return 1;
    }
    const fs::path folder = folderTemplate;
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);  // leaves the user's settings alone
    const bool met = MeasureImport(devices, folder);
    MeasurePolling(devices, seconds, folder);
    fs::remove_all(folder);
    return met ? 0 : 3;
}
