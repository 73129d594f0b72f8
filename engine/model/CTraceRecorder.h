#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/model/CDeviceTrace.h"

namespace talbo::tesk::vorta {

// The traces of the job under way, one per device, in the directory that VORTA_TRACE_DIR names
// when the job starts. Without the variable (or when the directory cannot be made or opened)
// the job is not traced and every call here returns at once.
//
// Threads: BeginJob is for the host's thread while no job runs (before the job's threads
// exist); the rest may be called from every runner at once.
class CTraceRecorder {
public:
    static constexpr const char* kDirectoryVariable = "VORTA_TRACE_DIR";

    CTraceRecorder() = default;
    ~CTraceRecorder();
    CTraceRecorder(const CTraceRecorder&) = delete;
    CTraceRecorder& operator=(const CTraceRecorder&) = delete;

    // Closes the previous job's traces and reads the variable afresh. A directory that does
    // not exist is made (with any missing parents) with mode 0700; an existing one is used as
    // it is.
    void BeginJob(const CDeviceTrace::SJob& job);

    bool Enabled() const noexcept { return directory >= 0; }

    // The host's run in this job starts: opens its trace file. A host whose file cannot be
    // used is not traced in this job.
    void StartDevice(const std::wstring& hostName);

    // The host's trace in this job; null when the job is not traced, the host has not started
    // (a device the job never starts never gets a file) or its file cannot be used. The trace
    // stays valid until the next BeginJob; its file closes when it is ended (CDeviceTrace::End).
    std::shared_ptr<CDeviceTrace> ForDevice(const std::wstring& hostName);

private:
    void CloseDirectory() noexcept;

    int directory = -1;
    CDeviceTrace::SJob job;
    std::mutex lock;
    // Null entries: hosts whose file could not be used, not tried again in this job.
    std::map<std::wstring, std::shared_ptr<CDeviceTrace>> devices;
};

}  // namespace talbo::tesk::vorta
