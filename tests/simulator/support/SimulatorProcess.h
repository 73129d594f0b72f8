#pragma once
// Runs vorta-devsim as a child process for a test: on an ephemeral loopback port, with its
// event log and port file in a private temporary folder, stopped (SIGTERM) when the test ends.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace devsim_test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path Write(const std::string& name, std::string_view content) const;

private:
    std::filesystem::path path_;
};

class SimulatorProcess {
public:
    // Adds --port-file and --log, and --listen 127.0.0.1:0 unless the arguments hold --direct
    // or --listen. Waits until the port file appears.
    explicit SimulatorProcess(std::vector<std::string> arguments);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    bool Started() const { return port_ > 0 || !addresses_.empty(); }
    int Port() const { return port_; }
    // Direct mode: device host -> "address:port".
    const std::map<std::string, std::string>& Addresses() const { return addresses_; }
    pid_t Pid() const { return pid_; }
    const std::filesystem::path& Folder() const { return folder_.Path(); }

    std::vector<nlohmann::json> Events() const;
    // The "request" lines, optionally of one device only.
    std::vector<nlohmann::json> Requests(std::string_view device = {}) const;
    // Polls the log until an event satisfies the predicate.
    std::optional<nlohmann::json> WaitForEvent(
        const std::function<bool(const nlohmann::json&)>& match,
        std::chrono::milliseconds timeout) const;

    // SIGTERM and wait; the exit status, or -1 when it had to be killed.
    int Stop();
    std::string StandardError() const;
    // From /proc: resident and peak resident memory in KiB.
    long ResidentKiB() const;
    long PeakResidentKiB() const;

private:
    long StatusField(const char* name) const;

    TempFolder folder_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::map<std::string, std::string> addresses_;
    std::optional<int> exitStatus_;
};

// A text field of a log line, empty when it is absent or null.
std::string TextOf(const nlohmann::json& line, const char* key);

// Polls a condition until it holds or the time is up.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace devsim_test
