#include "engine/model/CUpdateModel.h"

#include <algorithm>
#include <string_view>

#include "common/DeviceListFile.h"
#include "common/HostName.h"
#include "common/Utf8.h"
#include "engine/model/DecimalText.h"
#include "engine/model/ExceptionBarrier.h"
#include "engine/model/RebootTimings.h"
#include "engine/protocol/CConnection.h"
#include "engine/protocol/UpdateConnectionFactory.h"

namespace talbo::tesk::vorta {

using common::IsValidHostName;
using common::kMaxHostNameLength;
using common::ReadDeviceListFile;

namespace {

// A snapshot of host names handed to the host; it owns its names, so the Current text stays
// valid until the iterator is released, whatever happens to the model.
class CConcreteHostNameIteratorImpl : public CHostNameIteratorImpl {
public:
    explicit CConcreteHostNameIteratorImpl(std::vector<std::wstring> names) noexcept
        : names(std::move(names)) {}

    CHostNameIteratorImpl* Clone() override {
        return CallOrFail<CHostNameIteratorImpl*>(
            nullptr, [this] { return new CConcreteHostNameIteratorImpl(*this); });
    }
    void Release() override { delete this; }
    CHostNameIteratorImpl& Next() override {
        if (position < names.size()) {
            ++position;
        }
        return *this;
    }
    const wchar_t* Current() override {
        return position < names.size() ? names[position].c_str() : nullptr;
    }

private:
    CConcreteHostNameIteratorImpl(const CConcreteHostNameIteratorImpl&) = default;

    std::vector<std::wstring> names;
    std::size_t position = 0;
};

// Host names longer than this are invalid anyway; never scan further into a host's text.
std::wstring_view BoundedHostName(const wchar_t* text) noexcept {
    std::size_t length = 0;
    while (length <= kMaxHostNameLength && text[length] != L'\0') {
        ++length;
    }
    return {text, length};
}

}  // namespace

// Holds the busy token for one model change, if it could be taken without waiting.
class CUpdateModel::CBusyScope {
public:
    explicit CBusyScope(CUpdateModel& model) noexcept : model(model), taken(model.TryBeginBusy()) {}
    CBusyScope(const CBusyScope&) = delete;
    CBusyScope& operator=(const CBusyScope&) = delete;
    ~CBusyScope() {
        if (taken) {
            model.EndBusy();
        }
    }
    bool Taken() const noexcept { return taken; }

private:
    CUpdateModel& model;
    bool taken;
};

CUpdateModel::CDevInfoIFImpl::CDevInfoIFImpl(CUpdateModel& model, std::wstring hostName)
    : model(&model), hostName(std::move(hostName)) {}

const wchar_t* CUpdateModel::CDevInfoIFImpl::GetValue(const wchar_t* key) {
    if (key == nullptr) {
        return nullptr;
    }
    return CallOrFail<const wchar_t*>(nullptr, [&] {
        const std::wstring keyText(key);
        const std::lock_guard lock(model->mutex);
        return values.Lend(keyText);
    });
}

CUpdateModel::CUpdateModel() = default;

CUpdateModel::~CUpdateModel() = default;

bool CUpdateModel::LoadUpdateImage(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    return CallOrFail(false, [&] {
        const CBusyScope busyScope(*this);
        if (!busyScope.Taken()) {
            return false;
        }
        const std::lock_guard lock(mutex);
        if (*path == L'\0') {
            return false;
        }
        CUpdateImagePartList loaded;
        if (parser.Parse(path, loaded) != 0) {
            return false;  // the current parts stay in force
        }
        imageParts = std::move(loaded);
        return true;
    });
}

bool CUpdateModel::AddDevice(const wchar_t* hostName) {
    if (hostName == nullptr) {
        return false;
    }
    return CallOrFail(false, [&] {
        const std::wstring_view name = BoundedHostName(hostName);
        if (!IsValidHostName(name)) {
            return false;
        }
        const CBusyScope busyScope(*this);
        if (!busyScope.Taken()) {
            return false;
        }
        RegisterHostNames({std::wstring(name)});
        return true;
    });
}

bool CUpdateModel::ImportDeviceList(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    return CallOrFail(false, [&] {
        const std::vector<std::wstring> names = ReadDeviceListFile(path);
        if (names.empty()) {
            return false;
        }
        const CBusyScope busyScope(*this);
        if (!busyScope.Taken()) {
            return false;
        }
        RegisterHostNames(names);
        return true;
    });
}

CHostNameIterator CUpdateModel::GetHostNameIterator() {
    return CallOrFail(CHostNameIterator(), [&] {
        std::vector<std::wstring> names;
        {
            const std::lock_guard lock(mutex);
            GetHostNameList(names);
        }
        return CHostNameIterator(new CConcreteHostNameIteratorImpl(std::move(names)));
    });
}

CDevInfoIF* CUpdateModel::GetDeviceInfo(const wchar_t* hostName) {
    if (hostName == nullptr) {
        return nullptr;
    }
    return CallOrFail<CDevInfoIF*>(nullptr, [&] {
        const std::lock_guard lock(mutex);
        return FindDevice(BoundedHostName(hostName));
    });
}

int CUpdateModel::GetProgress(const wchar_t* hostName) {
    if (hostName == nullptr) {
        return -1;
    }
    return CallOrFail(-1, [&] {
        const std::lock_guard lock(mutex);
        CDevInfoIFImpl* device = FindDevice(BoundedHostName(hostName));
        if (device == nullptr) {
            return -1;
        }
        const std::wstring* progress = device->Values().Find(L"progress");
        return progress != nullptr ? ReadLeadingInt(*progress) : 0;
    });
}

bool CUpdateModel::SetUpdateTarget(const wchar_t* hostName, bool update) {
    if (hostName == nullptr) {
        return false;
    }
    return CallOrFail(false, [&] {
        const CBusyScope busyScope(*this);
        if (!busyScope.Taken()) {
            return false;
        }
        return SetDeviceValue(hostName, L"update", update ? L"true" : L"false");
    });
}

std::wstring CUpdateModel::GetDeviceValue(const std::wstring& hostName, const std::wstring& key) {
    return CallOrFail(std::wstring(), [&] {
        const std::lock_guard lock(mutex);
        CDevInfoIFImpl* device = FindDevice(hostName);
        if (device == nullptr) {
            return std::wstring();
        }
        const std::wstring* value = device->Values().Find(key);
        return value != nullptr ? *value : std::wstring();
    });
}

bool CUpdateModel::SetDeviceValue(const std::wstring& hostName, const std::wstring& key,
                                  const std::wstring& value) {
    return CallOrFail(false, [&] {
        const std::lock_guard lock(mutex);
        CDevInfoIFImpl* device = FindDevice(hostName);
        if (device == nullptr) {
            return false;
        }
        // Devices answer with a model name holding "ARRAY" when they are not in service.
        if (key == L"modelname" && value.find(L"ARRAY") != std::wstring::npos) {
            device->Values().Set(key, L"OFFLINE");
        } else {
            device->Values().Set(key, value);
        }
        return true;
    });
}

CConnection* CUpdateModel::CreateUpdateConnection(const std::wstring& hostName) {
    return CallOrFail<CConnection*>(nullptr, [&] {
        // The host's trace in this job (its file was opened when its run started). Set on
        // every exchange's connection, so that a job without traces drops the last job's one.
        std::shared_ptr<CDeviceTrace> trace = traces.ForDevice(hostName);
        const std::lock_guard lock(mutex);
        // One connection object per host for the model's life, renewed for every exchange.
        // Making a new one each time, on whichever runner thread took the device, moved every
        // device's connection into another allocator arena at each job, and the arenas' free
        // space grew with it for dozens of jobs.
        if (const auto found = connections.find(hostName); found != connections.end()) {
            found->second->Reset();
            found->second->SetExchangeObserver(std::move(trace));
            return found->second.get();
        }
        std::unique_ptr<CConnection> connection = MakeUpdateConnection(hostName);
        if (connection == nullptr) {
            return static_cast<CConnection*>(nullptr);
        }
        connection->SetStopSignal(&jobStop);
        connection->SetExchangeObserver(std::move(trace));
        CConnection* made = connection.get();
        connections.emplace(hostName, std::move(connection));
        return made;
    });
}

CConnection* CUpdateModel::GetConnection(const std::wstring& hostName) {
    return CallOrFail<CConnection*>(nullptr, [&] {
        const std::lock_guard lock(mutex);
        const auto found = connections.find(hostName);
        return found != connections.end() ? found->second.get() : nullptr;
    });
}

const CUpdateImagePart* CUpdateModel::FindImagePart(const std::wstring& name) {
    return CallOrFail<const CUpdateImagePart*>(nullptr, [&] {
        const std::lock_guard lock(mutex);
        for (const auto& part : imageParts) {
            if (part->GetName() == name) {
                return static_cast<const CUpdateImagePart*>(part.get());
            }
        }
        return static_cast<const CUpdateImagePart*>(nullptr);
    });
}

void CUpdateModel::BeginJobTrace(const std::wstring& job) {
    CallOrFail<bool>(false, [&] {
        CDeviceTrace::SJob description;
        description.kind = common::AsciiToNarrow(job);
        if (job == L"update") {
            if (const CUpdateImagePart* backup = FindImagePart(L"BackupSettingValue")) {
                description.imageVersion = common::AsciiToNarrow(backup->GetAfterVersion());
            }
        }
        traces.BeginJob(description);
        return true;
    });
}

void CUpdateModel::BeginDeviceTrace(const std::wstring& hostName) {
    if (!traces.Enabled()) {
        return;
    }
    CallOrFail<bool>(false, [&] {
        traces.StartDevice(hostName);
        return true;
    });
}

CDeviceTrace* CUpdateModel::DeviceTrace(const std::wstring& hostName) {
    if (!traces.Enabled()) {
        return nullptr;
    }
    return CallOrFail<CDeviceTrace*>(nullptr, [&] { return traces.ForDevice(hostName).get(); });
}

void CUpdateModel::EndDeviceTrace(const std::wstring& hostName, bool jobStopped) {
    if (!traces.Enabled()) {
        return;
    }
    CallOrFail<bool>(false, [&] {
        const int progress = ReadLeadingInt(GetDeviceValue(hostName, L"progress"));
        if (const std::shared_ptr<CDeviceTrace> trace = traces.ForDevice(hostName)) {
            trace->End(progress, jobStopped);
        }
        return true;
    });
}

const std::wstring& CUpdateModel::GetResponseSchema() {
    return ResponseSchemaText();
}

void CUpdateModel::GetHostNameList(std::vector<std::wstring>& list) {
    list.reserve(list.size() + devices.size());
    for (const auto& device : devices) {
        list.push_back(device->HostName());
    }
}

const CUpdateImagePartList* CUpdateModel::GetImageParts() {
    try {
        // A barrier only: a load in progress finishes before the list is handed out.
        const std::lock_guard lock(mutex);
    } catch (...) {
        return nullptr;
    }
    return &imageParts;
}

bool CUpdateModel::TryBeginBusy() {
    if (!busy.try_acquire()) {
        return false;
    }
    busyTaken.store(true);
    return true;
}

bool CUpdateModel::EndBusy() {
    // Giving back a token that is not out would let two changes run at once later.
    if (!busyTaken.exchange(false)) {
        return false;
    }
    busy.release();
    return true;
}

void CUpdateModel::ReleaseRetiredValues() {
    try {
        const std::lock_guard lock(mutex);
        for (const auto& device : devices) {
            device->Values().ReleaseRetired();
        }
    } catch (...) {
        // Only the lock can fail: the texts then stay until the next job start, which is safe.
    }
}

void CUpdateModel::RegisterHostNames(const std::vector<std::wstring>& names) {
    const RebootTimings timings = CurrentRebootTimings();
    const std::lock_guard lock(mutex);

    // Build every new record first: a failure midway then registers nothing.
    std::vector<std::unique_ptr<CDevInfoIFImpl>> added;
    std::unordered_map<std::wstring_view, CDevInfoIFImpl*> addedByName;
    for (const std::wstring& name : names) {
        if (FindDevice(name) != nullptr || addedByName.count(name) != 0) {
            continue;
        }
        auto device = std::make_unique<CDevInfoIFImpl>(*this, name);
        CDeviceValueTable& values = device->Values();
        values.Set(L"hostname", name);
        values.Set(L"update", L"true");
        values.Set(L"rebootfirstwait", timings.firstWait);
        values.Set(L"rebootretrywait", timings.retryWait);
        values.Set(L"rebootretrymax", timings.retryMax);
        addedByName.emplace(device->HostName(), device.get());
        added.push_back(std::move(device));
    }
    // Room first, so that nothing below can fail halfway: merging moves nodes into buckets that
    // exist already. The room grows geometrically: hosts that register one name at a time
    // (10,000 AddDevice calls) would otherwise copy the table at every call.
    const std::size_t count = devices.size() + added.size();
    if (count > devices.capacity()) {
        devices.reserve(std::max(count, 2 * devices.capacity()));
    }
    if (static_cast<float>(count) >
        static_cast<float>(devicesByName.bucket_count()) * devicesByName.max_load_factor()) {
        devicesByName.reserve(std::max(count, 2 * devicesByName.size()));
    }
    devicesByName.merge(addedByName);
    for (auto& device : added) {
        devices.push_back(std::move(device));
    }
}

CUpdateModel::CDevInfoIFImpl* CUpdateModel::FindDevice(std::wstring_view hostName) const noexcept {
    const auto found = devicesByName.find(hostName);
    return found != devicesByName.end() ? found->second : nullptr;
}

}  // namespace talbo::tesk::vorta
