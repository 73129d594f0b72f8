#include "tool/wizard/WizardApplication.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/SystemInfo.h"
#include "tool/wizard/CVortaFWUpdateToolUIDlg.h"
#include "tool/wizard/EndOnStopSignal.h"
#include "tool/wizard/RaiseOnRequest.h"
#include "tool/wizard/WizardIcon.h"
#include "tool/wizard/WizardMessageBox.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;

std::unique_ptr<QApplication> CreateWizardApplication(int& argc, char** argv) {
    auto application = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VortaFWUpdateTool"));
    QApplication::setDesktopFileName(QStringLiteral("vorta-fwupdate-tool"));
    QApplication::setWindowIcon(WizardIcon());
    // The interface follows the tool's language choice, and so should the toolkit's own button
    // texts (Yes, No, Open ...) where translations of them are installed.
    if (tv::SystemDefaultLocale() == tv::kLocaleJapanese) {
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
        auto* translator = new QTranslator(application.get());
        if (translator->load(QStringLiteral("qtbase_ja"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QApplication::installTranslator(translator);
        }
    } else {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    return application;
}

void InstallWizard(tv::CVortaFWUpdateToolUIApp& app) {
    app.SetErrorMessageBox([](const std::wstring& text) {
        ShowWizardMessage(nullptr, ToQString(text), QMessageBox::Critical);
    });
    app.SetWizard(&RunWizard);
}

void RunWizard(tv::CVortaFWUpdateToolUIApp& app, tv::SingleInstanceLock& lock) {
    WizardEngineAccess engine{
        [&app] { return app.Model(); },
        [&app] { return app.Controller(); },
        [&app](const std::filesystem::path& path) { return app.ExtractAndLoadImage(path); },
        [&app] { return app.Settings(); },
        {},  // the carried image's version
    };
    CVortaFWUpdateToolUIDlg dialog(std::move(engine));
    new RaiseOnRequest(dialog, lock);
    if (tv::StopSignals* stopSignals = app.Signals()) {
        new EndOnStopSignal(dialog, *stopSignals, [&dialog] { return dialog.DrainAndClose(); });
    }
    dialog.exec();
}
