#pragma once
// The host's own copy of the engine library's exported declarations, as a program that knows
// nothing else of the engine would carry it. Keep the slot order exactly as the library has it.

#include <utility>

namespace talbo::tesk::vorta {

// The library exports this class's special members; a host that loads the library at run time
// links none of them, so its copy defines them inline. The slots are the same.
class CDevInfoIF {
public:
    CDevInfoIF() = default;
    CDevInfoIF(const CDevInfoIF&) = default;
    CDevInfoIF& operator=(const CDevInfoIF&) = default;
    virtual ~CDevInfoIF() = default;
    virtual const wchar_t* GetValue(const wchar_t* key) = 0;
};

class CHostNameIteratorImpl {
public:
    virtual ~CHostNameIteratorImpl() = default;
    virtual CHostNameIteratorImpl* Clone() = 0;
    virtual void Release() = 0;
    virtual CHostNameIteratorImpl& Next() = 0;
    virtual const wchar_t* Current() = 0;
};

class CHostNameIterator {
public:
    explicit CHostNameIterator(CHostNameIteratorImpl* impl = nullptr) noexcept : impl(impl) {}
    CHostNameIterator(const CHostNameIterator& other)
        : impl(other.impl != nullptr ? other.impl->Clone() : nullptr) {}
    CHostNameIterator(CHostNameIterator&& other) noexcept
        : impl(std::exchange(other.impl, nullptr)) {}
    CHostNameIterator& operator=(CHostNameIterator other) noexcept {
        std::swap(impl, other.impl);
        return *this;
    }
    ~CHostNameIterator() {
        if (impl != nullptr) {
            impl->Release();
        }
    }
    CHostNameIteratorImpl* operator->() const noexcept { return impl; }
    CHostNameIteratorImpl* Get() const noexcept { return impl; }

private:
    CHostNameIteratorImpl* impl;
};

class CUpdateControllerExport {
public:
    virtual ~CUpdateControllerExport() = default;
    virtual bool StartCommunicationTest() = 0;
    virtual bool StartUpdate(const wchar_t* downgradePolicy) = 0;
    virtual bool AnswerInquiry(const wchar_t* answer) = 0;
};

class CUpdateModelExport {
public:
    virtual ~CUpdateModelExport() = default;
    virtual bool LoadUpdateImage(const wchar_t* path) = 0;
    virtual bool AddDevice(const wchar_t* hostName) = 0;
    virtual bool ImportDeviceList(const wchar_t* path) = 0;
    virtual CHostNameIterator GetHostNameIterator() = 0;
    virtual CDevInfoIF* GetDeviceInfo(const wchar_t* hostName) = 0;
    virtual int GetProgress(const wchar_t* hostName) = 0;
    virtual bool SetUpdateTarget(const wchar_t* hostName, bool update) = 0;
};

enum class EJobState : int { Idle = 0, Testing = 1, Updating = 2, AwaitingAnswer = 3 };

class CUpdateSettingsExport {
public:
    virtual ~CUpdateSettingsExport() = default;
    virtual bool SetDevicesAtATime(int devices) = 0;
    virtual int GetDevicesAtATime() = 0;
    virtual EJobState GetJobState() = 0;
    virtual bool StopStartingDevices() = 0;
    virtual bool SetStopAfterFailures(int failures) = 0;
    virtual int GetStopAfterFailures() = 0;
    virtual int GetCountedFailures() = 0;
};

using GetVortaUpdateControllerFn = CUpdateControllerExport* (*)();
using GetVortaUpdateSettingsFn = CUpdateSettingsExport* (*)();
using GetVortaUpdateModelFn = CUpdateModelExport* (*)();

}  // namespace talbo::tesk::vorta
