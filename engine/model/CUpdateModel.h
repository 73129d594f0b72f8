#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/interface/CDevInfoIF.h"
#include "engine/interface/CUpdateModelExport.h"
#include "engine/model/CBasicRCXFileParser.h"
#include "engine/model/CDeviceValueTable.h"
#include "engine/model/CStopSignal.h"
#include "engine/model/CTraceRecorder.h"
#include "engine/model/CUpdateImagePart.h"
#include "engine/model/CUpdateModelIF.h"

namespace talbo::tesk::vorta {

class CConnection;

// The engine's one store of state: the registered devices with their values, one connection
// per device, the parts of the loaded update image, and the locks between the host's thread
// and the job's worker thread. The host sees the CUpdateModelExport base, the controller and
// the job states the CUpdateModelIF base.
class CUpdateModel : public CUpdateModelIF, public CUpdateModelExport {
public:
    // One registered device as the host sees it.
    class CDevInfoIFImpl : public CDevInfoIF {
    public:
        CDevInfoIFImpl(CUpdateModel& model, std::wstring hostName);

        // The stored text itself; it stays readable, even when the value is overwritten
        // meanwhile, until ReleaseRetiredValues (the start of the host's next job) or the
        // model's end.
        const wchar_t* GetValue(const wchar_t* key) override;

        // The rest is for the model, which holds its mutex around every call.
        const std::wstring& HostName() const noexcept { return hostName; }
        CDeviceValueTable& Values() noexcept { return values; }

    private:
        CUpdateModel* model;  // only to reach the model's mutex
        std::wstring hostName;
        CDeviceValueTable values;
    };

    CUpdateModel();
    CUpdateModel(const CUpdateModel&) = delete;
    CUpdateModel& operator=(const CUpdateModel&) = delete;
    ~CUpdateModel() override;

    // CUpdateModelExport
    bool LoadUpdateImage(const wchar_t* path) override;
    bool AddDevice(const wchar_t* hostName) override;
    bool ImportDeviceList(const wchar_t* path) override;
    CHostNameIterator GetHostNameIterator() override;
    CDevInfoIF* GetDeviceInfo(const wchar_t* hostName) override;
    int GetProgress(const wchar_t* hostName) override;
    bool SetUpdateTarget(const wchar_t* hostName, bool update) override;

    // CUpdateModelIF
    std::wstring GetDeviceValue(const std::wstring& hostName, const std::wstring& key) override;
    bool SetDeviceValue(const std::wstring& hostName, const std::wstring& key,
                        const std::wstring& value) override;
    CConnection* CreateUpdateConnection(const std::wstring& hostName) override;
    CConnection* GetConnection(const std::wstring& hostName) override;
    const CUpdateImagePart* FindImagePart(const std::wstring& name) override;
    const std::wstring& GetResponseSchema() override;
    void GetHostNameList(std::vector<std::wstring>& list) override;
    const CUpdateImagePartList* GetImageParts() override;
    bool TryBeginBusy() override;
    bool EndBusy() override;
    CStopSignal& JobStop() override { return jobStop; }
    // Traces go where VORTA_TRACE_DIR says when the job starts (CTraceRecorder).
    void BeginJobTrace(const std::wstring& job) override;
    void BeginDeviceTrace(const std::wstring& hostName) override;
    CDeviceTrace* DeviceTrace(const std::wstring& hostName) override;
    void EndDeviceTrace(const std::wstring& hostName, bool jobStopped) override;
    // Frees the retired texts of every device, under the mutex; texts now current stay.
    void ReleaseRetiredValues() override;

private:
    class CBusyScope;

    // Registers every name not yet registered, in order, with the registration values; all or
    // nothing. Takes the mutex.
    void RegisterHostNames(const std::vector<std::wstring>& names);
    // The device of that host name, through the index; the caller holds the mutex.
    CDevInfoIFImpl* FindDevice(std::wstring_view hostName) const noexcept;

    // Members in this order, so that destruction runs: locks, image parts, parser,
    // connections, devices, the traces the connections report to, and last the stop signal
    // the connections watch.
    CStopSignal jobStop;
    CTraceRecorder traces;
    std::vector<std::unique_ptr<CDevInfoIFImpl>> devices;
    // Every device by its host name (views into the device's own name). Engine states look
    // devices up by name at every step; walking a fleet's list each time made a test of n
    // devices cost time in n squared.
    std::unordered_map<std::wstring_view, CDevInfoIFImpl*> devicesByName;
    std::map<std::wstring, std::unique_ptr<CConnection>> connections;
    CBasicRCXFileParser parser;
    CUpdateImagePartList imageParts;
    std::recursive_mutex mutex;
    std::binary_semaphore busy{1};
    // Whether the busy token is out: lets EndBusy refuse instead of raising the count above 1.
    std::atomic<bool> busyTaken{false};
};

}  // namespace talbo::tesk::vorta
