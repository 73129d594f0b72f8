#pragma once
// The engine library as a host sees it: loaded once per test process with dlopen, reached only
// through its two entry points and the exported interfaces.

#include <chrono>
#include <string>
#include <vector>

#include "engine/interface/VortaFWUpdateModule.h"

namespace e2e {

class EngineHost {
public:
    // Loads the library on first use; restart timings short enough for tests are set first,
    // since the model reads them when a device is registered.
    static EngineHost& Get();

    talbo::tesk::vorta::CUpdateModelExport& Model() const { return *model; }
    talbo::tesk::vorta::CUpdateControllerExport& Controller() const { return *controller; }
    talbo::tesk::vorta::CUpdateSettingsExport& Settings() const { return *settings; }
    bool Loaded() const { return model != nullptr && controller != nullptr && settings != nullptr; }

    // A device value as text ("" when absent).
    std::wstring Value(const std::wstring& host, const wchar_t* key) const;
    // Registers the devices and makes them the only targets.
    void UseOnly(const std::vector<std::wstring>& hosts) const;
    // Polls the job state until no job runs (a model change is accepted again).
    bool WaitUntilIdle(std::chrono::seconds timeout = std::chrono::seconds(120)) const;
    // Polls until the device's progress equals the value.
    bool WaitForProgress(const std::wstring& host, int value,
                         std::chrono::seconds timeout = std::chrono::seconds(120)) const;

private:
    EngineHost();

    void* handle = nullptr;
    talbo::tesk::vorta::CUpdateModelExport* model = nullptr;
    talbo::tesk::vorta::CUpdateControllerExport* controller = nullptr;
    talbo::tesk::vorta::CUpdateSettingsExport* settings = nullptr;
};

std::wstring Wide(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace e2e
