#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "engine/interface/CUpdateControllerExport.h"
#include "engine/interface/CUpdateModelExport.h"
#include "engine/interface/CUpdateSettingsExport.h"

// How the wizard reaches the engine. Each function is called afresh at every use, as the engine's
// entry points are; the program binds them to the loaded engine, tests to a stand-in.
struct WizardEngineAccess {
    std::function<talbo::tesk::vorta::CUpdateModelExport*()> model;
    std::function<talbo::tesk::vorta::CUpdateControllerExport*()> controller;
    // Writes the carried update image to path and lets the engine load it. Called on the image
    // load worker thread.
    std::function<bool(const std::filesystem::path& path)> extractAndLoadImage;
    // The engine's job settings (devices at a time); may be unset or answer null.
    std::function<talbo::tesk::vorta::CUpdateSettingsExport*()> settings;
    // The firmware version of the image extractAndLoadImage hands over, for a run session's
    // forecast of what the engine decides (which devices count for a wave). Unset: the version
    // of the image the tool carries, as the program has it.
    std::function<std::wstring()> imageVersion;

    talbo::tesk::vorta::CUpdateModelExport* Model() const { return model ? model() : nullptr; }
    talbo::tesk::vorta::CUpdateControllerExport* Controller() const {
        return controller ? controller() : nullptr;
    }
    talbo::tesk::vorta::CUpdateSettingsExport* Settings() const {
        return settings ? settings() : nullptr;
    }
};
