#include "EngineHost.h"

#include <dlfcn.h>

#include <cstdlib>
#include <thread>

namespace e2e {

namespace tv = talbo::tesk::vorta;

EngineHost& EngineHost::Get() {
    static EngineHost host;
    return host;
}

EngineHost::EngineHost() {
    ::setenv("VORTA_REBOOT_FIRST_WAIT_MS", "150", 1);
    ::setenv("VORTA_REBOOT_RETRY_WAIT_MS", "100", 1);
    ::setenv("VORTA_REBOOT_RETRY_MAX", "20", 1);
    handle = ::dlopen(VORTA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return;
    }
    const auto getModel =
        reinterpret_cast<tv::GetVortaUpdateModelFn>(::dlsym(handle, tv::kModelEntryName));
    const auto getController =
        reinterpret_cast<tv::GetVortaUpdateControllerFn>(::dlsym(handle, tv::kControllerEntryName));
    const auto getSettings =
        reinterpret_cast<tv::GetVortaUpdateSettingsFn>(::dlsym(handle, tv::kSettingsEntryName));
    model = getModel != nullptr ? getModel() : nullptr;
    controller = getController != nullptr ? getController() : nullptr;
    settings = getSettings != nullptr ? getSettings() : nullptr;
}

std::wstring EngineHost::Value(const std::wstring& host, const wchar_t* key) const {
    tv::CDevInfoIF* info = model->GetDeviceInfo(host.c_str());
    const wchar_t* value = info != nullptr ? info->GetValue(key) : nullptr;
    return value != nullptr ? std::wstring(value) : std::wstring();
}

void EngineHost::UseOnly(const std::vector<std::wstring>& hosts) const {
    for (const std::wstring& host : hosts) {
        model->AddDevice(host.c_str());
    }
    for (tv::CHostNameIterator it = model->GetHostNameIterator(); it.Current() != nullptr;
         it.Next()) {
        const std::wstring name = it.Current();
        bool wanted = false;
        for (const std::wstring& host : hosts) {
            wanted = wanted || host == name;
        }
        model->SetUpdateTarget(name.c_str(), wanted);
    }
}

bool EngineHost::WaitUntilIdle(std::chrono::seconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (settings->GetJobState() == tv::EJobState::Idle) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool EngineHost::WaitForProgress(const std::wstring& host, int value,
                                 std::chrono::seconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (model->GetProgress(host.c_str()) == value) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) {
        out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace e2e
