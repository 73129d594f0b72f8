#include "engine/interface/VortaFWUpdateModule.h"

// Placeholder until the model and its load guard are built.
extern "C" talbo::tesk::vorta::CUpdateModelExport* getVortaUpdateModel() { return nullptr; }
