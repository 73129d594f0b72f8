#include "FakeEngine.h"

#include <fstream>

namespace fake {

namespace {

bool IsHostName(const std::wstring& name) {
    if (name.empty() || name.size() > 254) {
        return false;
    }
    for (const wchar_t c : name) {
        const bool ok = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') ||
                        (c >= L'A' && c <= L'Z') || c == L'.' || c == L'-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

class HostIterator : public tv::CHostNameIteratorImpl {
public:
    HostIterator(std::vector<std::wstring> names, std::size_t at)
        : names(std::move(names)), at(at) {}
    CHostNameIteratorImpl* Clone() override { return new HostIterator(names, at); }
    void Release() override { delete this; }
    CHostNameIteratorImpl& Next() override {
        if (at < names.size()) {
            ++at;
        }
        return *this;
    }
    const wchar_t* Current() override { return at < names.size() ? names[at].c_str() : nullptr; }

private:
    std::vector<std::wstring> names;
    std::size_t at;
};

}  // namespace

Device::Device(std::wstring host) {
    values[L"hostname"] = std::move(host);
    values[L"update"] = L"true";
}

const wchar_t* Device::GetValue(const wchar_t* key) {
    if (key == nullptr) {
        return nullptr;
    }
    if (std::wstring_view(key) == L"progress") {
        values[key] = std::to_wstring(progress);
    }
    const auto it = values.find(key);
    return it == values.end() ? nullptr : it->second.c_str();
}

int Device::NextProgress() {
    if (!script.empty()) {
        progress = script.front();
        script.pop_front();
    }
    return progress;
}

bool Model::LoadUpdateImage(const wchar_t*) {
    return true;
}

bool Model::AddDevice(const wchar_t* hostName) {
    if (hostName == nullptr || !IsHostName(hostName)) {
        return false;
    }
    if (Find(hostName) == nullptr) {
        devices.push_back(std::make_unique<Device>(hostName));
        byHost[hostName] = devices.back().get();
    }
    return true;
}

bool Model::ImportDeviceList(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    std::ifstream in{std::filesystem::path(path)};
    if (!in) {
        return false;
    }
    std::vector<std::wstring> names;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        const std::wstring name(line.begin(), line.end());
        if (!IsHostName(name)) {
            return false;
        }
        names.push_back(name);
    }
    if (names.empty()) {
        return false;
    }
    for (const std::wstring& name : names) {
        AddDevice(name.c_str());
    }
    return true;
}

tv::CHostNameIterator Model::GetHostNameIterator() {
    std::vector<std::wstring> names;
    for (const auto& device : devices) {
        names.push_back(device->values[L"hostname"]);
    }
    return tv::CHostNameIterator(new HostIterator(std::move(names), 0));
}

tv::CDevInfoIF* Model::GetDeviceInfo(const wchar_t* hostName) {
    return hostName != nullptr ? Find(hostName) : nullptr;
}

int Model::GetProgress(const wchar_t* hostName) {
    Device* device = hostName != nullptr ? Find(hostName) : nullptr;
    return device != nullptr ? device->NextProgress() : -1;
}

bool Model::SetUpdateTarget(const wchar_t* hostName, bool update) {
    Device* device = hostName != nullptr ? Find(hostName) : nullptr;
    if (device == nullptr) {
        return false;
    }
    targetCalls.emplace_back(hostName, update);
    device->values[L"update"] = update ? L"true" : L"false";
    return true;
}

Device* Model::Find(const std::wstring& host) {
    if (byHost.size() != devices.size()) {
        byHost.clear();
        for (const auto& device : devices) {
            byHost[device->values[L"hostname"]] = device.get();
        }
    }
    const auto it = byHost.find(host);
    return it != byHost.end() ? it->second : nullptr;
}

Device& Model::At(const std::wstring& host) {
    Device* device = Find(host);
    if (device == nullptr) {
        throw std::logic_error("the test uses an unregistered device");
    }
    return *device;
}

std::vector<std::wstring> Controller::Targets() const {
    std::vector<std::wstring> targets;
    for (const auto& device : model->devices) {
        if (device->values[L"update"] == L"true") {
            targets.push_back(device->values[L"hostname"]);
        }
    }
    return targets;
}

void Controller::BeginJob() {
    settings->countedFailures = 0;
}

bool Controller::StartCommunicationTest() {
    ++testStarts;
    testTargets.push_back(Targets());
    BeginJob();
    return onTest ? onTest() : false;
}

bool Controller::StartUpdate(const wchar_t* downgradePolicy) {
    const std::wstring policy = downgradePolicy != nullptr ? downgradePolicy : L"";
    updatePolicies.push_back(policy);
    updateTargets.push_back(Targets());
    BeginJob();
    return onUpdate ? onUpdate(policy) : false;
}

bool Controller::AnswerInquiry(const wchar_t* answer) {
    const std::wstring text = answer != nullptr ? answer : L"";
    answers.push_back(text);
    return onAnswer ? onAnswer(text) : false;
}

bool Settings::SetDevicesAtATime(int devices) {
    setCalls.push_back(devices);
    if (refuse || devices < 1 || devices > 64) {
        return false;
    }
    devicesAtATime = devices;
    return true;
}

tv::EJobState Settings::GetJobState() {
    if (jobStates.empty()) {
        return tv::EJobState::Idle;
    }
    const tv::EJobState state = jobStates.front();
    jobStates.pop_front();
    return state;
}

bool Settings::SetStopAfterFailures(int failures) {
    if (refuse || failures < 0) {
        return false;
    }
    stopAfterFailures = failures;
    return true;
}

Engine::Engine() {
    controller.model = &model;
    controller.settings = &settings;
}

WizardEngineAccess Engine::Access() {
    return WizardEngineAccess{
        [this] { return &model; },
        [this] { return &controller; },
        [this](const std::filesystem::path& path) { return LoadImage(path); },
        [this] { return &settings; },
        [] { return std::wstring(kImageVersion); },
    };
}

Device& Engine::Register(const std::wstring& host,
                         const std::map<std::wstring, std::wstring>& values) {
    model.AddDevice(host.c_str());
    Device& device = model.At(host);
    for (const auto& [key, value] : values) {
        device.values[key] = value;
    }
    return device;
}

void Engine::HoldImageLoad() {
    std::lock_guard lock(gateMutex);
    gateClosed = true;
}

void Engine::ReleaseImageLoad() {
    {
        std::lock_guard lock(gateMutex);
        gateClosed = false;
    }
    gateChanged.notify_all();
}

bool Engine::LoadImage(const std::filesystem::path&) {
    std::unique_lock lock(gateMutex);
    gateChanged.wait(lock, [this] { return !gateClosed; });
    ++imageLoads;
    return imageLoadResult;
}

}  // namespace fake
