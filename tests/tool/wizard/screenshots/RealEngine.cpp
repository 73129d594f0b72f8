#include "RealEngine.h"

#include <dlfcn.h>

#include "engine/interface/VortaFWUpdateModule.h"

namespace wizardtest {

namespace tv = talbo::tesk::vorta;

RealEngine::RealEngine(const std::filesystem::path& module) {
    handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = ::dlerror();
        error = text != nullptr ? text : "dlopen failed";
        return;
    }
    auto getModel =
        reinterpret_cast<tv::GetVortaUpdateModelFn>(::dlsym(handle, tv::kModelEntryName));
    auto getController =
        reinterpret_cast<tv::GetVortaUpdateControllerFn>(::dlsym(handle, tv::kControllerEntryName));
    auto getSettings =
        reinterpret_cast<tv::GetVortaUpdateSettingsFn>(::dlsym(handle, tv::kSettingsEntryName));
    model = getModel != nullptr ? getModel() : nullptr;
    settings = getSettings != nullptr ? getSettings() : nullptr;
    controller = getController != nullptr ? getController() : nullptr;
    if (!Loaded()) {
        error = "the engine refused to load (another process holds it?)";
    }
}

RealEngine::~RealEngine() {
    if (handle != nullptr) {
        ::dlclose(handle);
    }
}

WizardEngineAccess RealEngine::Access(const std::filesystem::path& image) {
    return WizardEngineAccess{
        [this] { return model; },
        [this] { return controller; },
        [this, image](const std::filesystem::path&) {
            return model != nullptr && model->LoadUpdateImage(image.wstring().c_str());
        },
        [this] { return settings; },
    };
}

}  // namespace wizardtest
