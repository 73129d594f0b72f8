#include "engine/model/CTraceRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace talbo::tesk::vorta {

namespace {

// Makes the directory and its missing parents, each new one private to this user.
bool MakeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

}  // namespace

CTraceRecorder::~CTraceRecorder() {
    CloseDirectory();
}

void CTraceRecorder::CloseDirectory() noexcept {
    if (directory >= 0) {
        ::close(directory);
        directory = -1;
    }
}

void CTraceRecorder::BeginJob(const CDeviceTrace::SJob& newJob) {
    {
        const std::lock_guard guard(lock);
        // Traces of the last job that a connection still holds close as they are released;
        // their devices have ended, so nothing writes to them any more.
        devices.clear();
    }
    CloseDirectory();
    const char* path = std::getenv(kDirectoryVariable);
    if (path == nullptr || *path == '\0') {
        return;
    }
    const std::string text(path);
    int opened = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0 && errno == ENOENT && MakeDirectories(text)) {
        opened = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (opened < 0) {
        return;  // not traced: a trace is a help for support, never a reason to fail a job
    }
    job = newJob;
    directory = opened;
}

void CTraceRecorder::StartDevice(const std::wstring& hostName) {
    if (directory < 0) {
        return;
    }
    const std::lock_guard guard(lock);
    if (devices.count(hostName) == 0) {
        devices.emplace(hostName, CDeviceTrace::Open(directory, hostName, job));
    }
}

std::shared_ptr<CDeviceTrace> CTraceRecorder::ForDevice(const std::wstring& hostName) {
    if (directory < 0) {
        return nullptr;
    }
    const std::lock_guard guard(lock);
    const auto found = devices.find(hostName);
    return found != devices.end() ? found->second : nullptr;
}

}  // namespace talbo::tesk::vorta
