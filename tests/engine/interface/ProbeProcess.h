#pragma once
// One module_probe child process with pipes to its stdin and from its stdout.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace vorta_test {

using Clock = std::chrono::steady_clock;

class ProbeProcess {
public:
    ProbeProcess(const std::string& probe, const std::string& module, bool hold) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) {
            return;
        }
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> args = {probe, module};
        if (hold) {
            args.emplace_back("--hold");
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, probe.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ProbeProcess(const ProbeProcess&) = delete;
    ProbeProcess& operator=(const ProbeProcess&) = delete;
    ~ProbeProcess() {
        CloseInput();
        if (pid_ > 0 && !exitStatus_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        if (stdout_ >= 0) {
            ::close(stdout_);
        }
    }

    bool Started() const { return pid_ > 0; }

    // The next line the probe prints, or nullopt when none arrives before the deadline.
    std::optional<std::string> ReadLine(Clock::duration timeout = std::chrono::seconds(30)) {
        const Clock::time_point deadline = Clock::now() + timeout;
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || stdout_ < 0) {
                return std::nullopt;
            }
            pollfd fd{stdout_, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char chunk[256];
            const ssize_t count = ::read(stdout_, chunk, sizeof chunk);
            if (count <= 0) {
                return std::nullopt;  // the probe is gone
            }
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }

    bool Send(const std::string& line) {
        const std::string text = line + "\n";
        return stdin_ >= 0 &&
               ::write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // End of input tells a holding probe to unload and exit.
    void CloseInput() {
        if (stdin_ >= 0) {
            ::close(stdin_);
            stdin_ = -1;
        }
    }

    void Kill() {
        if (pid_ > 0 && !exitStatus_) {
            ::kill(pid_, SIGKILL);
        }
    }

    // The exit status once the probe has ended, or nullopt at the deadline.
    std::optional<int> Wait(Clock::duration timeout = std::chrono::seconds(30)) {
        const Clock::time_point deadline = Clock::now() + timeout;
        while (!exitStatus_ && pid_ > 0) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exitStatus_ = status;
                break;
            }
            if (Clock::now() >= deadline) {
                return std::nullopt;
            }
            // Wake when the probe closes its stdout (it exits), else re-check shortly.
            pollfd fd{stdout_, POLLIN, 0};
            ::poll(&fd, stdout_ >= 0 ? 1 : 0, 10);
            if ((fd.revents & (POLLIN | POLLHUP)) != 0) {
                char chunk[256];
                const ssize_t count = ::read(stdout_, chunk, sizeof chunk);
                if (count > 0) {
                    buffer_.append(chunk, static_cast<std::size_t>(count));
                } else {
                    ::close(stdout_);
                    stdout_ = -1;
                }
            }
        }
        return exitStatus_;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string buffer_;
    std::optional<int> exitStatus_;
};

}  // namespace vorta_test
