#pragma once

#include <filesystem>
#include <functional>

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

    talbo::tesk::vorta::CUpdateModelExport* Model() const { return model ? model() : nullptr; }
    talbo::tesk::vorta::CUpdateControllerExport* Controller() const {
        return controller ? controller() : nullptr;
    }
    talbo::tesk::vorta::CUpdateSettingsExport* Settings() const {
        return settings ? settings() : nullptr;
    }
    // Whether the engine's job has ended, so that the next start or check change cannot be
    // refused for it. Without the settings interface the devices' ends have to do.
    bool JobEnded() const {
        talbo::tesk::vorta::CUpdateSettingsExport* job = Settings();
        return job == nullptr || job->GetJobState() == talbo::tesk::vorta::EJobState::Idle;
    }
};
