#include "engine/interface/VortaFWUpdateModule.h"

#include <optional>

#include "engine/interface/ModuleLoadGuard.h"
#include "engine/jobs/CUpdateController.h"
#include "engine/model/CUpdateModel.h"
#include "engine/protocol/CompiledSchemaPool.h"
#include "engine/protocol/UpdateConnectionFactory.h"

namespace talbo::tesk::vorta {

namespace {

// The library's static objects. They are made when the library is loaded; then the load guard
// is taken. A Linux initialiser cannot make the load fail, so when another process holds the
// guard the objects are torn down again and the entry points give null, which the host treats
// as a failed load.
class CVortaModule {
public:
    CVortaModule() noexcept {
        try {
            // Function-local statics that job workers read are made first: statics are
            // destroyed in reverse order, so these outlive the module, whose destruction stops
            // and joins the workers.
            ResponseSchemaText();
            CompiledSchemas();
            model.emplace();
            controller.emplace(&*model);
            if (!guard.Acquire()) {
                TearDown();
                return;
            }
            // Before any worker thread can exist.
            if (!InitializeProtocolLibraries()) {
                TearDown();
                return;
            }
            protocolReady = true;
        } catch (...) {
            TearDown();
        }
    }

    CVortaModule(const CVortaModule&) = delete;
    CVortaModule& operator=(const CVortaModule&) = delete;

    ~CVortaModule() { TearDown(); }

    CUpdateModelExport* Model() noexcept { return model ? &*model : nullptr; }
    CUpdateControllerExport* Controller() noexcept { return controller ? &*controller : nullptr; }
    CUpdateSettingsExport* Settings() noexcept {
        return controller ? &controller->Settings() : nullptr;
    }

private:
    void TearDown() noexcept {
        // The controller goes first, before the model it uses.
        controller.reset();
        model.reset();
        if (protocolReady) {
            ShutdownProtocolLibraries();
            protocolReady = false;
        }
        guard.Release();
    }

    CModuleLoadGuard guard;
    std::optional<CUpdateModel> model;
    std::optional<CUpdateController> controller;
    bool protocolReady = false;
};

CVortaModule theModule;

}  // namespace

}  // namespace talbo::tesk::vorta

extern "C" VORTA_EXPORT talbo::tesk::vorta::CUpdateControllerExport* getVortaUpdateController() {
    return talbo::tesk::vorta::theModule.Controller();
}

extern "C" VORTA_EXPORT talbo::tesk::vorta::CUpdateModelExport* getVortaUpdateModel() {
    return talbo::tesk::vorta::theModule.Model();
}

extern "C" VORTA_EXPORT talbo::tesk::vorta::CUpdateSettingsExport* getVortaUpdateSettings() {
    return talbo::tesk::vorta::theModule.Settings();
}
