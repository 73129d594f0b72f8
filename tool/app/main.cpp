// VortaFWUpdateTool: the wizard without arguments, the command-line rewrite of one device with.
#include <QApplication>

#include <memory>
#include <span>

#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/wizard/WizardApplication.h"

namespace talbo::tesk::vorta {
std::span<const CarriedBlob> GeneratedCarriedBlobs();
}

int main(int argc, char** argv) {
    namespace tv = talbo::tesk::vorta;
    tv::SetCarriedBlobTable(tv::GeneratedCarriedBlobs());
    tv::CVortaFWUpdateToolUIApp app;
    const std::wstring argumentText = tv::ArgumentText(argc, argv);
    // Only the wizard needs a display; the command-line rewrite runs without one.
    std::unique_ptr<QApplication> gui;
    if (argumentText.empty()) {
        gui = CreateWizardApplication(argc, argv);
        InstallWizard(app);
    }
    return app.Run(argumentText);
}
