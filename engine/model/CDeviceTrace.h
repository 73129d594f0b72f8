#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/protocol/CExchangeObserver.h"

namespace talbo::tesk::vorta {

class CUpdateImagePart;

// What one job does with one device, as JSON lines appended to the device's trace file: the
// job's first line, every round trip of its connections with the request and part it carried,
// the restart waits and their probes, and the device's result at its end. Support reads it, and
// the simulator replays it. Nothing secret reaches it: the connection reports no header, and the
// device's answer is the only body it keeps.
//
// Every line goes to the file in one write as it happens, so the trace of a killed run ends with
// its last complete line. Writing never throws and never fails an exchange: a line that cannot
// be written is left out.
//
// Threads: a device runs on one runner at a time, but a trace may be told about its device from
// the runner and from the connection's callbacks on that runner; a lock keeps lines whole anyway.
class CDeviceTrace : public CExchangeObserver {
public:
    // What the job line says about the job.
    struct SJob {
        std::string kind;          // "test" or "update"
        std::string imageVersion;  // the version the update brings; empty for a test
    };

    // Opens (creating it, mode 0600) the trace file "<host>.jsonl" in the directory (an open
    // directory descriptor, not owned), appends the job's first line and returns the trace.
    // Null when the host name is no safe file name, or the file cannot be used: a symbolic link
    // is not followed, and a file that is not a regular file of this user with one link is not
    // written.
    static std::shared_ptr<CDeviceTrace> Open(int directory, const std::wstring& hostName,
                                              const SJob& job);

    ~CDeviceTrace() override;
    CDeviceTrace(const CDeviceTrace&) = delete;
    CDeviceTrace& operator=(const CDeviceTrace&) = delete;

    // One line per round trip, with the request and part set last and the probe under way.
    void OnExchange(const SExchangeRecord& record) noexcept override;

    // The request a send state is about to send: its type ("GetInformation", "ChangeMode",
    // "Update") and the image part it carries (null for none; not kept).
    void SetRequest(std::wstring_view type, const CUpdateImagePart* part) noexcept;

    // A restart wait begins (its timings), each probe begins after its wait and ends answered
    // or not with the status the device reported, and the wait ends.
    void BeginRestartWait(unsigned firstWaitMs, unsigned retryWaitMs, unsigned retries) noexcept;
    void BeginProbe(unsigned waitedMs) noexcept;
    void EndProbe(bool answered, const std::wstring& deviceStatus) noexcept;
    void EndRestartWait(bool answered, const std::wstring& deviceStatus) noexcept;

    // A progress the job reported for the device under a name; a result name among them is
    // the one the end line gives.
    void NoteResult(const std::wstring& name) noexcept;
    // The device's run has ended with this progress: the end line, then the file is closed and
    // nothing more is written. jobStopped: the library is being unloaded, the job ends the
    // device itself.
    void End(int progress, bool jobStopped) noexcept;

private:
    CDeviceTrace(int file, std::string hostName);

    // Appends one line; the caller holds the lock.
    void WriteLocked(const std::string& line) noexcept;

    std::mutex lock;
    int file;  // -1 once closed
    std::string hostName;
    // The request being sent, for the round trips that carry it.
    std::string request;
    std::string partName;
    std::string partNumber;
    int probe = 0;  // the probe under way (1, 2, ...), 0 outside probes
    int probes = 0;
    std::wstring lastResult;
};

// A host name that is safe as a file name as it is: letters, digits, '.' and '-', not starting
// with '.', at most 254 characters.
bool IsTraceFileName(std::wstring_view hostName);

}  // namespace talbo::tesk::vorta
