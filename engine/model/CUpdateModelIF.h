#pragma once

#include <string>
#include <vector>

#include "engine/model/CUpdateImagePart.h"

namespace talbo::tesk::vorta {

class CConnection;
class CStopSignal;

// The model as the controller and the job states see it (internal to the library).
class CUpdateModelIF {
public:
    virtual ~CUpdateModelIF() = default;

    // A copy of the value; empty when the device or the key does not exist.
    virtual std::wstring GetDeviceValue(const std::wstring& hostName, const std::wstring& key) = 0;
    // Inserts or overwrites a value; false for an unregistered device. A "modelname" holding
    // "ARRAY" is stored as "OFFLINE".
    virtual bool SetDeviceValue(const std::wstring& hostName, const std::wstring& key,
                                const std::wstring& value) = 0;
    // Replaces the host's connection with a new one and returns it (the model owns it), or null.
    virtual CConnection* CreateUpdateConnection(const std::wstring& hostName) = 0;
    // The host's stored connection, or null.
    virtual CConnection* GetConnection(const std::wstring& hostName) = 0;
    // The first image part with exactly this name, or null.
    virtual const CUpdateImagePart* FindImagePart(const std::wstring& name) = 0;
    // The schema device responses are validated against.
    virtual const std::wstring& GetResponseSchema() = 0;
    // Appends every registered host name in registration order. Takes no lock: only a job
    // calls it, while the busy token keeps the device table unchanged.
    virtual void GetHostNameList(std::vector<std::wstring>& list) = 0;
    // The image part list itself, after any load in progress has finished.
    virtual const CUpdateImagePartList* GetImageParts() = 0;
    // Takes the busy token without waiting.
    virtual bool TryBeginBusy() = 0;
    // Gives the busy token back (from any thread).
    virtual bool EndBusy() = 0;
    // The signal that ends a running job at once. The model owns it because every connection
    // it makes watches it, so that a transfer in progress is cut too.
    virtual CStopSignal& JobStop() = 0;
    // Frees the device texts that hosts were lent before they were overwritten. Called on the
    // host's thread when a job starts, with the busy token held: hosts copy a lent text before
    // they start the next job, so none of them can still be reading one.
    virtual void ReleaseRetiredValues() {}
};

}  // namespace talbo::tesk::vorta
