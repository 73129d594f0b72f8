// VortaFWUpdateTool: the wizard without arguments, the command-line rewrite of one device with.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/wizard/WizardApplication.h"

namespace talbo::tesk::vorta {
std::span<const CarriedBlob> GeneratedCarriedBlobs();
}

namespace {

// Without any window system the toolkit would abort; say what to do instead.
bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    namespace tv = talbo::tesk::vorta;
    tv::SetCarriedBlobTable(tv::GeneratedCarriedBlobs());
    tv::CVortaFWUpdateToolUIApp app;
    const std::wstring argumentText = tv::ArgumentText(argc, argv);
    // Only the wizard needs a display; the command-line rewrite runs without one.
    std::unique_ptr<QApplication> gui;
    if (argumentText.empty()) {
        if (!HasDisplay()) {
            // Only a hint; with no display and nowhere to print it there is nothing else to do.
            static_cast<void>(
                std::fprintf(stderr,
                             "VortaFWUpdateTool: no display for the wizard; to rewrite one device "
                             "from the command line, run: VortaFWUpdateTool [-d] HOST\n"));
            return 0;
        }
        gui = CreateWizardApplication(argc, argv);
        InstallWizard(app);
    }
    return app.Run(argumentText);
}
