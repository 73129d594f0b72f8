// Drives the real wizard against the real engine and a running vorta-devsim (reached through
// http_proxy) and saves a PNG of each stage: the licence, the devices after an access test, the
// update page during and after a rewrite of the fleet, several devices at a time, and the same
// page enlarged with the Show filter at "Failed".
// scripts/screenshots runs it under Xvfb.
//
//   wizard_screenshots OUT_DIR HOST...
// The interface language follows LANG / LC_ALL as in the tool.
#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <filesystem>

#include "RealEngine.h"
#include "WizardDriver.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/SystemInfo.h"
#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"
#include "tool/wizard/WizardApplication.h"

namespace {

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;
using wizardtest::WaitFor;

constexpr int kJobTimeoutMs = 10 * 60 * 1000;
constexpr int kDevicesAtATime = 4;
// The running picture waits until this many devices show progress together.
constexpr int kRunningTogether = 3;
// The last picture: the window this much larger, the Show filter's entry "Failed".
constexpr QSize kEnlargedBy(160, 120);
constexpr int kFailedFilter = 1;

void LoadStrings() {
    const bool japanese = tv::SystemDefaultLocale() == tv::kLocaleJapanese;
    const fs::path dir =
        fs::path(VORTA_SOURCE_DIR) / "tool" / "resources" / (japanese ? "ja" : "en");
    tv::CUIStringTable& table = tv::CUIStringTable::GetInstance();
    table.LoadDefaults();
    table.LoadFile(dir / "ui.lng");
    table.LoadLicenceText(dir / "eula.txt", japanese ? tv::CUIStringTable::LicenceEncoding::Cp932
                                                     : tv::CUIStringTable::LicenceEncoding::Ascii);
}

bool Save(QWidget& window, const QDir& out, const char* name) {
    QApplication::processEvents();
    const QString path = out.filePath(QString::fromLatin1(name));
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool Fail(const char* what) {
    std::fprintf(stderr, "wizard_screenshots: %s\n", what);
    return false;
}

bool Run(CVortaFWUpdateToolUIDlg& dialog, wizardtest::ModalAnswerer& answerer, const QDir& out,
         const QStringList& hosts) {
    CEulaPage& eula = dialog.EulaPage();
    eula.AcceptButton().click();
    if (!Save(dialog, out, "wizard-1-licence.png")) {
        return false;
    }

    dialog.NextButton().click();
    CDeviceSelectPage& devices = dialog.DevicePage();
    for (const QString& host : hosts) {
        devices.NameEntry().setText(host);
        devices.AddButton().click();
    }
    answerer.Answer(QMessageBox::Ok);
    devices.TestButton().click();
    if (!answerer.WaitForMessages(1, kJobTimeoutMs)) {
        return Fail("the access test did not end");
    }
    devices.List().setCurrentIndex(QModelIndex());
    if (!Save(dialog, out, "wizard-2-devices.png")) {
        return false;
    }

    dialog.NextButton().click();
    CUpdatePage& update = dialog.UpdatePage();
    update.DevicesAtATimeBox().setValue(kDevicesAtATime);
    // Yes to the confirmation, No to every downgrade question, OK to the closing message.
    answerer.whileOpen = [&](QMessageBox& box) {
        if (box.standardButtons().testFlag(QMessageBox::Yes)) {
            answerer.Answer(box.text() == wizardtest::Text(L"MSG-200") ? QMessageBox::Yes
                                                                       : QMessageBox::No);
        } else {
            answerer.Answer(QMessageBox::Ok);
        }
    };
    const std::size_t before = answerer.messages.size();
    dialog.UpdateButton().click();
    // A moment with devices at different steps: one waiting for its restart, others sending.
    const QString restarting = CUpdatePage::PhaseText(QStringLiteral("restart"), 1);
    const bool running = WaitFor(
        [&] {
            int together = 0;
            bool restart = false;
            for (int row = 0; row < update.List().RowCount(); ++row) {
                const QModelIndex cell = update.List().Rows().index(row, 4);
                const QVariant percentage =
                    update.List().Rows().data(cell, CDeviceListModel::kProgressRole);
                together += percentage.isValid() && percentage.toInt() > 0;
                restart = restart || update.List()
                                             .Rows()
                                             .data(cell, CDeviceListModel::kProgressDetailRole)
                                             .toString() == restarting;
            }
            return together >= kRunningTogether && restart;
        },
        kJobTimeoutMs);
    if (!running || !Save(dialog, out, "wizard-3-update-running.png")) {
        return Fail("no progress was shown");
    }
    const bool ended = WaitFor(
        [&] {
            return answerer.messages.size() > before + 1 &&
                   !answerer.messages.back().buttons.testFlag(QMessageBox::Yes);
        },
        kJobTimeoutMs);
    if (!ended) {
        return Fail("the rewrite did not end");
    }
    update.List().setCurrentIndex(QModelIndex());
    if (!Save(dialog, out, "wizard-4-update-done.png")) {
        return false;
    }
    // An operator after the rewrite: the window made larger, only the failed devices shown.
    dialog.resize(dialog.size() + kEnlargedBy);
    update.ListTools().FilterBox().setCurrentIndex(kFailedFilter);
    if (update.List().ShownRowCount() == 0) {
        return Fail("no device failed");
    }
    update.List().FitColumnsToContents();
    return Save(dialog, out, "wizard-5-update-filtered.png");
}

}  // namespace

int main(int argc, char** argv) {
    std::unique_ptr<QApplication> application = CreateWizardApplication(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR HOST...\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QStringList hosts;
    for (int i = 2; i < argc; ++i) {
        hosts.append(QString::fromLocal8Bit(argv[i]));
    }
    LoadStrings();

    wizardtest::RealEngine engine{fs::path(VORTA_MODULE_PATH)};
    if (!engine.Loaded()) {
        std::fprintf(stderr, "wizard_screenshots: %s\n", engine.Error().c_str());
        return 1;
    }
    wizardtest::ModalAnswerer answerer;
    CVortaFWUpdateToolUIDlg dialog(engine.Access(fs::path(VORTA_CARRIED_IMAGE_PATH)));
    // Wide enough for the five columns of the update page with a fleet's host names.
    dialog.resize(QSize(940, 560).expandedTo(dialog.minimumSize()));
    dialog.show();
    const bool ok = Run(dialog, answerer, out, hosts);
    return ok && answerer.unexpected == 0 ? 0 : 1;
}
