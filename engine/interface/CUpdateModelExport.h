#pragma once

#include "engine/interface/CDevInfoIF.h"
#include "engine/interface/CHostNameIterator.h"

namespace talbo::tesk::vorta {

// The model as the host sees it. The slot order below is the binary contract with the tool.
// Null text arguments are accepted everywhere and give the operation's failure result.
class CUpdateModelExport {
public:
    virtual ~CUpdateModelExport() = default;  // never called by the host

    // Reads and checks an update image and keeps all of it in memory. false for null, a busy
    // model or a bad file; the previously loaded image then stays in force.
    virtual bool LoadUpdateImage(const wchar_t* path) = 0;
    // Registers a host name (1..254 of ".-0-9A-Za-z"); an existing name changes nothing.
    virtual bool AddDevice(const wchar_t* hostName) = 0;
    // Registers every name of a one-name-per-line file; one bad line registers none.
    virtual bool ImportDeviceList(const wchar_t* path) = 0;
    // Snapshot of all host names in registration order, positioned at the first.
    virtual CHostNameIterator GetHostNameIterator() = 0;
    // The device's record, or null for a null or unregistered name.
    virtual CDevInfoIF* GetDeviceInfo(const wchar_t* hostName) = 0;
    // -1 for a null or unregistered name; else the device's "progress" value (0 when unset).
    virtual int GetProgress(const wchar_t* hostName) = 0;
    // Sets the device's "update" value to "true" or "false".
    virtual bool SetUpdateTarget(const wchar_t* hostName, bool update) = 0;
};

}  // namespace talbo::tesk::vorta
