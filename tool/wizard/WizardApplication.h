#pragma once

#include <QApplication>

#include <memory>

namespace talbo::tesk::vorta {
class CVortaFWUpdateToolUIApp;
class SingleInstanceLock;
}  // namespace talbo::tesk::vorta

// The window system side of wizard mode: the Qt application (name, icon, desktop entry, the
// toolkit's own texts in the interface language) ...
std::unique_ptr<QApplication> CreateWizardApplication(int& argc, char** argv);

// ... the wizard and the start-up error box hooked into the application object ...
void InstallWizard(talbo::tesk::vorta::CVortaFWUpdateToolUIApp& app);

// ... and one modal run of the wizard against the loaded engine.
void RunWizard(talbo::tesk::vorta::CVortaFWUpdateToolUIApp& app,
               talbo::tesk::vorta::SingleInstanceLock& lock);
