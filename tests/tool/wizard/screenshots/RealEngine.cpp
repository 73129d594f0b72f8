#include "RealEngine.h"

#include <dlfcn.h>

#include <fstream>
#include <iterator>
#include <string>

#include "common/IniDocument.h"
#include "common/Utf8.h"
#include "engine/interface/VortaFWUpdateModule.h"

namespace wizardtest {

namespace tv = talbo::tesk::vorta;

namespace {

constexpr std::size_t kMaxHeaderBytes = std::size_t{64} * 1024;

// The firmware version an image file's header names (section E, key 7): the header is
// single-byte text up to the first 0xFF byte, within the first 64 KiB.
std::wstring ImageVersionOf(const std::filesystem::path& image) {
    std::ifstream in(image, std::ios::binary);
    std::string header;
    for (std::istreambuf_iterator<char> it(in), end;
         it != end && *it != '\xFF' && header.size() < kMaxHeaderBytes; ++it) {
        header.push_back(*it);
    }
    const auto document = tv::common::IniDocument::Parse(tv::common::BytesToWide(header));
    return document.Get(L"E", L"7").value_or(L"");
}

}  // namespace

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
        [version = ImageVersionOf(image)] { return version; },
    };
}

}  // namespace wizardtest
