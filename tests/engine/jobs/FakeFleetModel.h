#pragma once
// An in-process model whose connections talk to scripted devices instead of the network, so
// that the controller's machines can be driven deterministically and fast.

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <semaphore>
#include <string>
#include <vector>

#include "common/StandInImageLayout.h"
#include "common/Utf8.h"
#include "engine/model/CStopSignal.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/CConnection.h"
#include "engine/protocol/CRequestBuilder.h"
#include "engine/protocol/UpdateConnectionFactory.h"
#include "engine/protocol/UtilityNamespace.h"

namespace talbo::tesk::vorta::testing {

struct FakeDevice {
    bool reachable = true;
    std::wstring modelName = L"QX-Vorta-1000";
    std::wstring version = L"Ver.3.00TC";
    std::wstring status = L"Idle";    // "Idle", "AnotherUpdating", "AnotherApp", "Broken"
    std::wstring appName;             // with "AnotherApp"
    std::wstring brokenProgress;      // with "Broken"
    std::wstring informationFailure;  // reason of success="false" to GetInformation
    std::map<std::wstring, std::wstring> refusals;  // part name -> reason ("AnotherApp:Print")
    bool comesBackAfterRestart = true;
    std::wstring statusAfterRestart = L"Idle";
    std::wstring progressAfterRestart;  // with statusAfterRestart "Broken"
    bool keepsOldFirmware = false;      // takes every part, runs the old version after
    int silentOpensAfterLastPart = 0;   // connections refused after the last part (-1: all)
    bool stallsOnChangeMode = false;    // a change-mode request hangs until the job stops
    int httpStatus = 200;
    int opens = 0;  // connection attempts, answered or not
    bool lastPartTaken = false;

    struct Request {
        std::wstring type;
        std::wstring partName;
    };
    std::vector<Request> requests;
};

class FakeFleetModel : public CUpdateModelIF {
public:
    FakeDevice& Add(const std::wstring& host) {
        hosts.push_back(host);
        values[host] = {{L"hostname", host},
                        {L"update", L"true"},
                        {L"rebootfirstwait", L"0"},
                        {L"rebootretrywait", L"0"},
                        {L"rebootretrymax", L"2"}};
        return devices[host];
    }
    void AddPart(std::wstring number, std::wstring name,
                 std::wstring version = common::BytesToWide(common::kStandInVersion)) {
        parts.push_back(std::make_unique<CUpdateImagePart>(std::move(number), std::move(name),
                                                           std::move(version), ByteSequence(8, 1),
                                                           L"0123456789abcdef0123456789abcdef"));
    }
    void AddCarriedImageParts() {
        for (const common::StandInStep& step : common::kStandInSteps) {
            AddPart(std::to_wstring(step.number), common::BytesToWide(step.name));
        }
    }

    std::vector<std::wstring> ProgressHistory(const std::wstring& host) {
        const std::lock_guard<std::recursive_mutex> guard(lock);
        return progressHistory[host];
    }
    std::vector<FakeDevice::Request> Requests(const std::wstring& host) {
        const std::lock_guard<std::recursive_mutex> guard(lock);
        return devices[host].requests;
    }
    FakeDevice& Device(const std::wstring& host) { return devices[host]; }
    bool IsBusy() {
        if (!busy.try_acquire()) {
            return true;
        }
        busy.release();
        return false;
    }

    std::wstring GetDeviceValue(const std::wstring& host, const std::wstring& key) override {
        const std::lock_guard<std::recursive_mutex> guard(lock);
        const auto device = values.find(host);
        if (device == values.end()) {
            return {};
        }
        const auto value = device->second.find(key);
        return value == device->second.end() ? std::wstring() : value->second;
    }
    bool SetDeviceValue(const std::wstring& host, const std::wstring& key,
                        const std::wstring& value) override {
        {
            const std::lock_guard<std::recursive_mutex> guard(lock);
            const auto device = values.find(host);
            if (device == values.end()) {
                return false;
            }
            device->second[key] = value;
            if (key == L"progress") {
                progressHistory[host].push_back(value);
            } else if (key == L"phase" &&
                       (phaseHistory[host].empty() || phaseHistory[host].back() != value)) {
                phaseHistory[host].push_back(value);
            }
        }
        if (afterSet) {
            afterSet(host, key, value);  // the value is visible to every other thread by now
        }
        return true;
    }
    CConnection* CreateUpdateConnection(const std::wstring& host) override;
    CConnection* GetConnection(const std::wstring& host) override {
        const std::lock_guard<std::recursive_mutex> guard(lock);
        const auto it = connections.find(host);
        return it == connections.end() ? nullptr : it->second.get();
    }
    const CUpdateImagePart* FindImagePart(const std::wstring& name) override {
        for (const auto& part : parts) {
            if (part->GetName() == name) {
                return part.get();
            }
        }
        return nullptr;
    }
    const std::wstring& GetResponseSchema() override { return ResponseSchemaText(); }
    void GetHostNameList(std::vector<std::wstring>& list) override {
        list.insert(list.end(), hosts.begin(), hosts.end());
    }
    const CUpdateImagePartList* GetImageParts() override { return &parts; }
    bool TryBeginBusy() override { return busy.try_acquire(); }
    bool EndBusy() override {
        busy.release();
        return true;
    }
    CStopSignal& JobStop() override { return jobStop; }

    // Runs on the writing thread right after a value was stored, outside the lock; set it
    // before a job starts.
    std::function<void(const std::wstring& host, const std::wstring& key,
                       const std::wstring& value)>
        afterSet;
    std::recursive_mutex lock;
    std::vector<std::wstring> hosts;
    std::map<std::wstring, std::map<std::wstring, std::wstring>> values;
    std::map<std::wstring, std::vector<std::wstring>> progressHistory;
    std::map<std::wstring, std::vector<std::wstring>> phaseHistory;  // changes only
    std::map<std::wstring, FakeDevice> devices;
    std::map<std::wstring, std::unique_ptr<CConnection>> connections;
    CUpdateImagePartList parts;
    std::binary_semaphore busy{1};
    CStopSignal jobStop;
};

// Answers one request the way the scripted device would.
class FakeConnection : public CConnection {
public:
    FakeConnection(FakeFleetModel& fleet, std::wstring host)
        : CConnection(nullptr), fleet(fleet), host(std::move(host)) {}

    int Open() override {
        const std::lock_guard<std::recursive_mutex> guard(fleet.lock);
        ++Device().opens;
        if (Device().silentOpensAfterLastPart != 0 && Device().lastPartTaken) {
            if (Device().silentOpensAfterLastPart > 0) {
                --Device().silentOpensAfterLastPart;
            }
            return -1;
        }
        return Device().reachable ? 0 : -1;
    }
    void Close() override {}
    int SetTimeout(std::uint32_t) override { return 0; }

    int Send(const std::wstring& document, const CUpdateImagePart* part) override {
        std::wsmatch match;
        static const std::wregex typePattern(L"<request type=\"([A-Za-z]+)\">");
        std::regex_search(document, match, typePattern);
        const std::lock_guard<std::recursive_mutex> guard(fleet.lock);
        if (!Device().reachable) {
            return -1;
        }
        Device().requests.push_back({match[1].str(), part != nullptr ? part->GetName() : L""});
        if (Device().stallsOnChangeMode && match[1].str() == L"ChangeMode") {
            return StallUntilStopped();
        }
        pending = Answer(match[1].str(), part);  // a restart begins after this answer
        return 0;
    }

    int Receive(ByteSequence& bytes) override {
        if (pending.empty()) {
            return 1;
        }
        const std::lock_guard<std::recursive_mutex> guard(fleet.lock);
        if (Device().httpStatus != 200) {
            return Device().httpStatus;
        }
        const std::string utf8(pending.begin(), pending.end());  // the answers are ASCII
        bytes.assign(utf8.begin(), utf8.end());
        pending.clear();
        return 200;
    }

private:
    FakeDevice& Device() { return fleet.Device(host); }

    // Like a transfer to a peer that stopped answering: only the job's stop ends it.
    int StallUntilStopped() {
        fleet.lock.unlock();
        while (fleet.jobStop.SleepFor(std::chrono::milliseconds(50))) {
        }
        fleet.lock.lock();
        return -1;
    }

    static std::wstring Document(const std::wstring& response) {
        return std::wstring(
                   L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<tesk-utility xmlns=\"") +
               kUtilityNamespace + L"\"><update>" + response + L"</update></tesk-utility>";
    }

    static std::wstring Refusal(const std::wstring& reason) {
        const std::size_t colon = reason.find(L':');
        if (colon == std::wstring::npos) {
            return Document(L"<response success=\"false\"><reason>" + reason +
                            L"</reason></response>");
        }
        return Document(L"<response success=\"false\"><reason>" + reason.substr(0, colon) +
                        L"<additional-data><another-app app-name=\"" + reason.substr(colon + 1) +
                        L"\"/></additional-data></reason></response>");
    }

    std::wstring Answer(const std::wstring& type, const CUpdateImagePart* part) {
        FakeDevice& device = Device();
        if (type == L"GetInformation") {
            if (!device.informationFailure.empty()) {
                return Document(L"<response success=\"false\"><reason>" +
                                device.informationFailure + L"</reason></response>");
            }
            std::wstring status = device.status;
            if (device.status == L"AnotherApp") {
                status += L"<additional-data><another-app app-name=\"" + device.appName +
                          L"\"/></additional-data>";
            } else if (device.status == L"Broken") {
                status += L"<additional-data><update-not-complete progress=\"" +
                          device.brokenProgress + L"\"/></additional-data>";
            }
            return Document(L"<response success=\"true\"><model-name>" + device.modelName +
                            L"</model-name><version>" + device.version + L"</version><status>" +
                            status + L"</status></response>");
        }
        const std::wstring name = part != nullptr ? part->GetName() : L"";
        if (const auto refusal = device.refusals.find(name); refusal != device.refusals.end()) {
            return Refusal(refusal->second);
        }
        // Switching with the first part and taking the "Reboot" part restart the device.
        if ((type == L"ChangeMode" && name == L"BackupSettingValue") ||
            (type == L"Update" && name == L"Reboot")) {
            device.reachable = device.comesBackAfterRestart;
            device.status = device.statusAfterRestart;
            device.brokenProgress = device.progressAfterRestart;
        }
        if (type == L"Update" && name == L"WriteNewBootStrap") {
            device.lastPartTaken = true;
            device.status = L"Idle";  // the update is complete
            if (!device.keepsOldFirmware) {
                device.version = part->GetAfterVersion();
            }
        }
        return Document(L"<response success=\"true\"/>");
    }

    FakeFleetModel& fleet;
    std::wstring host;
    std::wstring pending;
};

inline CConnection* FakeFleetModel::CreateUpdateConnection(const std::wstring& host) {
    const std::lock_guard<std::recursive_mutex> guard(lock);
    connections.erase(host);
    auto connection = std::make_unique<FakeConnection>(*this, host);
    CConnection* raw = connection.get();
    connections[host] = std::move(connection);
    return raw;
}

}  // namespace talbo::tesk::vorta::testing
