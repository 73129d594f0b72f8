#pragma once
// The built engine library, loaded as the tool loads it, behind the wizard's access object: for
// runs of the real wizard against vorta-devsim (screenshots, end-to-end tests).

#include <filesystem>
#include <string>

#include "tool/wizard/WizardEngineAccess.h"

namespace wizardtest {

class RealEngine {
public:
    // Loads the library; Loaded() tells whether both entry points answered.
    explicit RealEngine(const std::filesystem::path& module);
    ~RealEngine();

    RealEngine(const RealEngine&) = delete;
    RealEngine& operator=(const RealEngine&) = delete;

    bool Loaded() const { return model != nullptr && controller != nullptr; }
    std::string Error() const { return error; }

    // The wizard's access object; the image load hands image to the engine (the tool writes its
    // carried copy first, which changes nothing the engine sees).
    WizardEngineAccess Access(const std::filesystem::path& image);

private:
    void* handle = nullptr;
    talbo::tesk::vorta::CUpdateModelExport* model = nullptr;
    talbo::tesk::vorta::CUpdateControllerExport* controller = nullptr;
    talbo::tesk::vorta::CUpdateSettingsExport* settings = nullptr;
    std::string error;
};

}  // namespace wizardtest
