#include "SimulatorProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace devsim_test {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

std::string TextOf(const nlohmann::json& line, const char* key) {
    auto it = line.find(key);
    return it != line.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/devsim-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) {
        std::filesystem::remove_all(path_, ignored);
    }
}

std::filesystem::path TempFolder::Write(const std::string& name, std::string_view content) const {
    auto path = path_ / name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    return path;
}

SimulatorProcess::SimulatorProcess(std::vector<std::string> arguments) {
    bool direct = false;
    bool listen = false;
    for (const auto& argument : arguments) {
        direct = direct || argument == "--direct";
        listen = listen || argument.rfind("--listen", 0) == 0;
    }
    auto portFile = Folder() / "port";
    arguments.insert(arguments.begin(), {VORTA_DEVSIM_PATH, "--port-file", portFile.string(),
                                         "--log", (Folder() / "events.jsonl").string()});
    if (!direct && !listen) {
        arguments.insert(arguments.end(), {"--listen", "127.0.0.1:0"});
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const std::string errorPath = (Folder() / "stderr.txt").string();
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // The simulator ends with the test process, even when a test dies before stopping it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(1);
        }
        int null = open("/dev/null", O_WRONLY);
        int error = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (null >= 0)
            dup2(null, 1);
        if (error >= 0)
            dup2(error, 2);
        execv(VORTA_DEVSIM_PATH, argv.data());
        _exit(127);
    }
    bool ready = Eventually(
        [&] {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return true;
            }
            return std::filesystem::exists(portFile);
        },
        std::chrono::seconds(20));
    if (!ready || exitStatus_) {
        return;
    }
    std::istringstream lines(ReadAll(portFile));
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t space = line.find(' ');
        if (direct && space != std::string::npos) {
            addresses_[line.substr(0, space)] = line.substr(space + 1);
        } else if (!direct && !line.empty()) {
            port_ = std::stoi(line);
        }
    }
}

SimulatorProcess::~SimulatorProcess() {
    Stop();
}

int SimulatorProcess::Stop() {
    if (pid_ < 0 || exitStatus_) {
        return exitStatus_.value_or(-1);
    }
    kill(pid_, SIGTERM);
    int status = 0;
    bool ended = Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                            std::chrono::seconds(20));
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        exitStatus_ = -1;
    } else {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return *exitStatus_;
}

std::vector<nlohmann::json> SimulatorProcess::Events() const {
    std::vector<nlohmann::json> events;
    std::istringstream lines(ReadAll(Folder() / "events.jsonl"));
    std::string line;
    while (std::getline(lines, line)) {
        // A line still being written has no end yet: parse complete lines only.
        if (lines.eof()) {
            break;
        }
        events.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return events;
}

std::vector<nlohmann::json> SimulatorProcess::Requests(std::string_view device) const {
    std::vector<nlohmann::json> requests;
    for (auto& event : Events()) {
        if (event.value("event", "") == "request" &&
            (device.empty() || event.value("device", "") == device)) {
            requests.push_back(event);
        }
    }
    return requests;
}

std::optional<nlohmann::json> SimulatorProcess::WaitForEvent(
    const std::function<bool(const nlohmann::json&)>& match,
    std::chrono::milliseconds timeout) const {
    std::optional<nlohmann::json> found;
    Eventually(
        [&] {
            for (auto& event : Events()) {
                if (match(event)) {
                    found = event;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

std::string SimulatorProcess::StandardError() const {
    return ReadAll(Folder() / "stderr.txt");
}

long SimulatorProcess::StatusField(const char* name) const {
    std::istringstream lines(ReadAll("/proc/" + std::to_string(pid_) + "/status"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(name));
        }
    }
    return -1;
}

long SimulatorProcess::ResidentKiB() const {
    return StatusField("VmRSS:");
}
long SimulatorProcess::PeakResidentKiB() const {
    return StatusField("VmHWM:");
}

}  // namespace devsim_test
