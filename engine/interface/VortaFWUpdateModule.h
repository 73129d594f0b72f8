#pragma once
// Entry points of the engine library. All three return pointers to static objects of the
// library, the same pointer on every call, or null when this copy of the library refused to
// load (another process holds it loaded). The host never deletes them.

#include "engine/interface/CUpdateControllerExport.h"
#include "engine/interface/CUpdateModelExport.h"
#include "engine/interface/CUpdateSettingsExport.h"
#include "engine/interface/VortaExport.h"

extern "C" {
VORTA_EXPORT talbo::tesk::vorta::CUpdateControllerExport* getVortaUpdateController();
VORTA_EXPORT talbo::tesk::vorta::CUpdateModelExport* getVortaUpdateModel();
VORTA_EXPORT talbo::tesk::vorta::CUpdateSettingsExport* getVortaUpdateSettings();
}

namespace talbo::tesk::vorta {

// Types of the entry points, for hosts that resolve them with dlsym.
using GetVortaUpdateControllerFn = CUpdateControllerExport* (*)();
using GetVortaUpdateModelFn = CUpdateModelExport* (*)();
using GetVortaUpdateSettingsFn = CUpdateSettingsExport* (*)();

inline constexpr const char* kModuleFileName = "VortaFWUpdateModule.so";
inline constexpr const char* kControllerEntryName = "getVortaUpdateController";
inline constexpr const char* kModelEntryName = "getVortaUpdateModel";
inline constexpr const char* kSettingsEntryName = "getVortaUpdateSettings";

}  // namespace talbo::tesk::vorta
