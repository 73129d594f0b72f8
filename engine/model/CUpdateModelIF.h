#pragma once

#include <string>
#include <vector>

#include "engine/model/CUpdateImagePart.h"

namespace talbo::tesk::vorta {

class CConnection;
class CDeviceTrace;
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
    // The host's one connection object, reset to the state of a new one (closed, default
    // settings), made on first use; the model owns it. Null when it cannot be made.
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

    // Traces for support. When a job starts (on the host's thread, before any of the job's
    // threads exist) the model decides whether the job is traced; it is not by default.
    // job: "test" or "update".
    virtual void BeginJobTrace(const std::wstring& job) { static_cast<void>(job); }
    // The host's run in the job starts: its trace file is opened (when the job is traced).
    // Only a device that starts gets a trace, and its file is open only until its run ends, so
    // a job holds at most one trace file per device in progress.
    virtual void BeginDeviceTrace(const std::wstring& hostName) { static_cast<void>(hostName); }
    // The host's trace in the running job, or null when the job is not traced, the host's run
    // has not started or its trace cannot be written. Valid until the next job starts; after
    // the host's run has ended it writes nothing.
    virtual CDeviceTrace* DeviceTrace(const std::wstring& hostName) {
        static_cast<void>(hostName);
        return nullptr;
    }
    // The host's run in the job has ended: its progress goes to its trace, which is then closed.
    // jobStopped: the job is being stopped (the library is unloaded).
    virtual void EndDeviceTrace(const std::wstring& hostName, bool jobStopped) {
        static_cast<void>(hostName);
        static_cast<void>(jobStopped);
    }
};

}  // namespace talbo::tesk::vorta
