// The tool's command-line mode end to end: the real executable rewrites simulated devices and
// reports by exit code and result log, and leaves nothing in its temporary folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string_view>

#include "SimulatorProcess.h"
#include "common/IniFile.h"
#include "common/Utf8.h"
#include "tests/engine/interface/ProbeProcess.h"
#include "tool/app/SingleInstanceLock.h"

using namespace devsim_test;
namespace fs = std::filesystem;
namespace vc = talbo::tesk::vorta::common;

namespace {

class ToolCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        tool = folder.Path() / "VortaFWUpdateTool";
        fs::copy_file(VORTA_TOOL_PATH, tool);
        fs::permissions(tool, fs::perms::owner_all);
        tmp = folder.Path() / "tmp";
        fs::create_directory(tmp);
        // Refuses part 8 as busy printing; and takes 5 s over part 3, so that a run can be
        // interrupted in the middle of the rewrite.
        const nlohmann::json printsAtPart8 = {{{"on", "Update"},
                                               {"part", 8},
                                               {"action", "refuse"},
                                               {"reason", "AnotherApp"},
                                               {"app-name", "Print"}}};
        const nlohmann::json slowAtPart3 = {
            {{"on", "Update"}, {"part", 3}, {"action", "delay"}, {"ms", 5000}}};
        nlohmann::json fleet = {
            {"defaults", {{"restart-ms", 200}}},
            {"devices",
             {{{"host", "cl-old.invalid"}},
              {{"host", "cl-newer.invalid"}, {"firmware", "Ver.3.02TC"}},
              {{"host", "cl-ten.invalid"}, {"firmware", "Ver.10.00TC"}},
              {{"host", "cl-printing.invalid"}, {"faults", printsAtPart8}},
              // Slow to answer its test, and in the middle of the
              // rewrite, so that a run can be interrupted there.
              {{"host", "cl-slow.invalid"},
               {"faults",
                {{{"on", "GetInformation"}, {"action", "delay"}, {"ms", 5000}, {"times", 0}}}}},
              {{"host", "cl-midway.invalid"}, {"faults", slowAtPart3}},
              // A fleet for batches: each device ends differently.
              {{"host", "b-idle.invalid"}},
              {{"host", "b-idle-2.invalid"}},
              {{"host", "b-newer.invalid"}, {"firmware", "Ver.3.02TC"}},
              {{"host", "b-newer-2.invalid"}, {"firmware", "Ver.3.02TC"}},
              {{"host", "b-same.invalid"}, {"firmware", "Ver.3.01TC"}},
              {{"host", "b-busy.invalid"}, {"status", "AnotherApp"}, {"app-name", "Print"}},
              {{"host", "b-gone.invalid"}, {"faults", {{{"action", "no-comeback"}}}}},
              {{"host", "b-printing.invalid"}, {"faults", printsAtPart8}},
              {{"host", "b-midway.invalid"}, {"faults", slowAtPart3}},
              {{"host", "b-midway-2.invalid"}, {"faults", slowAtPart3}},
              {{"host", "b-midway-3.invalid"}, {"faults", slowAtPart3}},
              // Refuses its update mode while it prints: busy, never a failure.
              {{"host", "b-prints-at-change.invalid"},
               {"faults",
                {{{"on", "ChangeMode"},
                  {"part", 1},
                  {"action", "refuse"},
                  {"reason", "AnotherApp"},
                  {"app-name", "Print"}}}}},
              // Free at its first test, printing from the rewrite's own test on.
              {{"host", "b-busy-later.invalid"},
               {"faults",
                {{{"on", "GetInformation"},
                  {"action", "busy"},
                  {"app-name", "Print"},
                  {"occurrence", 2},
                  {"times", 0}}}}},
              // Half rewritten, and reporting a version newer than the image.
              {{"host", "b-broken-newer.invalid"},
               {"firmware", "Ver.3.02TC"},
               {"status", "Broken"},
               {"progress", "7"}},
              // Named in several spellings in one list.
              {{"host", "dup.invalid"}}}}};
        // A fleet for rollouts: good devices, devices whose rewrite fails once it has begun
        // (a failure that counts), and one that prints for its first two tests.
        const nlohmann::json refusesPart3 = {
            {{"on", "Update"}, {"part", 3}, {"action", "refuse"}, {"reason", "InvalidFile"}}};
        for (int i = 1; i <= 15; ++i) {
            fleet["devices"].push_back({{"host", "r-ok-" + std::to_string(i) + ".invalid"}});
            fleet["devices"].push_back(
                {{"host", "r-bad-" + std::to_string(i) + ".invalid"}, {"faults", refusesPart3}});
        }
        fleet["devices"].push_back({{"host", "r-busy.invalid"},
                                    {"faults",
                                     {{{"on", "GetInformation"},
                                       {"action", "busy"},
                                       {"app-name", "Print"},
                                       {"times", 2}}}}});
        sim = std::make_unique<SimulatorProcess>(
            std::vector<std::string>{"--fleet", folder.Write("fleet.json", fleet.dump()).string()});
        ASSERT_TRUE(sim->Started()) << sim->StandardError();
    }

    // Starts the tool with the arguments (through launcher, when given, which then executes
    // the tool); its standard error goes to a file that StandardError() reads.
    pid_t Start(const std::vector<std::string>& arguments,
                const std::vector<std::string>& launcher = {}) {
        const fs::path errors = folder.Path() / "stderr.txt";
        const fs::path output = folder.Path() / "stdout.txt";
        const pid_t child = ::fork();
        if (child == 0) {
            const std::string proxy = "http://127.0.0.1:" + std::to_string(sim->Port());
            ::setenv("http_proxy", proxy.c_str(), 1);
            ::unsetenv("no_proxy");
            ::setenv("TMPDIR", tmp.c_str(), 1);
            ::setenv("LANG", "C.UTF-8", 1);
            ::unsetenv("LC_ALL");
            ::setenv("VORTA_REBOOT_FIRST_WAIT_MS", "150", 1);
            ::setenv("VORTA_REBOOT_RETRY_WAIT_MS", "100", 1);
            ::setenv("VORTA_REBOOT_RETRY_MAX", "20", 1);
            for (const auto& [name, value] : environment) {
                ::setenv(name.c_str(), value.c_str(), 1);
            }
            const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd >= 0) {
                ::dup2(fd, STDERR_FILENO);
            }
            const int out = outputPipe >= 0
                                ? outputPipe
                                : ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (out >= 0) {
                ::dup2(out, STDOUT_FILENO);
            }
            if (closeInputAndOutput) {
                ::close(STDIN_FILENO);
                ::close(STDOUT_FILENO);
            }
            std::vector<char*> argv;
            for (const std::string& part : launcher) {
                argv.push_back(const_cast<char*>(part.c_str()));
            }
            argv.push_back(const_cast<char*>(tool.c_str()));
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            std::_Exit(127);
        }
        running.push_back(child);
        return child;
    }

    // A test that stops early must not leave a tool running (it would hold the engine).
    void TearDown() override {
        for (const pid_t child : running) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }

    // Waits for a started tool; returns the exit status the shell sees (the low eight bits of
    // the code the tool returned). Unless others still run, nothing the run wrote may remain
    // in its temporary folder.
    int Finish(pid_t child, bool othersRunning = false) {
        int status = 0;
        ::waitpid(child, &status, 0);
        running.erase(std::remove(running.begin(), running.end(), child), running.end());
        EXPECT_TRUE(WIFEXITED(status)) << "status " << status;
        if (!othersRunning) {
            EXPECT_TRUE(fs::is_empty(tmp)) << "left behind in " << tmp;
        }
        return WEXITSTATUS(status);
    }

    // Runs the tool to its end; the exit status the shell sees.
    int Run(const std::vector<std::string>& arguments) { return Finish(Start(arguments)); }

    std::string StandardError() const {
        std::ifstream in(folder.Path() / "stderr.txt");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The device lines of batches on standard output: host -> (code, text). Removes the file,
    // so that the next batch starts with none.
    std::map<std::string, std::pair<int, std::string>> TakeDeviceLines() const {
        std::map<std::string, std::pair<int, std::string>> lines;
        std::ifstream in(folder.Path() / "stdout.txt");
        for (std::string line; std::getline(in, line);) {
            const std::size_t tab1 = line.find('\t');
            const std::size_t tab2 = line.find('\t', tab1 + 1);
            EXPECT_NE(tab2, std::string::npos) << line;
            if (tab2 == std::string::npos) {
                continue;
            }
            EXPECT_EQ(lines.count(line.substr(0, tab1)), 0U) << "two lines for " << line;
            lines[line.substr(0, tab1)] = {std::stoi(line.substr(tab1 + 1, tab2 - tab1 - 1)),
                                           line.substr(tab2 + 1)};
        }
        fs::remove(folder.Path() / "stdout.txt");
        return lines;
    }

    // A list file in the test's folder; the argument that names it.
    std::string ListArgument(const std::string& name, const std::string& content) const {
        return "@" + folder.Write(name, content).string();
    }

    // A key of the newest record, or "<none>".
    std::wstring LastRecordValue(const std::wstring& key) const {
        const auto log = vc::IniFile::Load(folder.Path() / "VortaFWUpdateTool.log");
        if (!log) {
            return L"<none>";
        }
        const auto& doc = log->Document();
        const std::wstring section = doc.Get(L"LAST_POS", L"DATE").value_or(L"") + L"-" +
                                     doc.Get(L"LAST_POS", L"NO").value_or(L"");
        return doc.Get(section, key).value_or(L"<none>");
    }

    // Polls until the condition holds while the started tool runs; false as soon as it has
    // ended (without reaping it: Finish still collects its status).
    static bool WhileRunning(pid_t run, const std::function<bool()>& condition) {
        return Eventually(
                   [&] {
                       siginfo_t info{};
                       const bool ended = ::waitid(P_PID, static_cast<id_t>(run), &info,
                                                   WEXITED | WNOHANG | WNOWAIT) == 0 &&
                                          info.si_pid == run;
                       return ended || condition();
                   },
                   std::chrono::seconds(60)) &&
               condition();
    }

    // How many priming requests (answered at once, before every exchange) host has had.
    std::size_t Primings(const std::string& host) const {
        const auto requests = sim->Requests(host);
        return static_cast<std::size_t>(std::count_if(
            requests.begin(), requests.end(),
            [](const nlohmann::json& line) { return TextOf(line, "request") == "priming"; }));
    }

    // Whether the simulator has answered a request of the given kind and part for host.
    bool HasRequest(const std::string& host, const std::string& kind, int part) const {
        const auto requests = sim->Requests(host);
        return std::any_of(requests.begin(), requests.end(), [&](const nlohmann::json& line) {
            return TextOf(line, "request") == kind && line.contains("part_number") &&
                   line["part_number"].is_number_integer() &&
                   line["part_number"].get<int>() == part;
        });
    }

    // Result and Detail of the newest record, or "<none>".
    std::pair<std::wstring, std::wstring> LastRecord() const {
        const auto log = vc::IniFile::Load(folder.Path() / "VortaFWUpdateTool.log");
        if (!log) {
            return {L"<none>", L"<none>"};
        }
        const auto& doc = log->Document();
        const std::wstring section = doc.Get(L"LAST_POS", L"DATE").value_or(L"") + L"-" +
                                     doc.Get(L"LAST_POS", L"NO").value_or(L"");
        return {doc.Get(section, L"Result").value_or(L"<none>"),
                doc.Get(section, L"Detail").value_or(L"<none>")};
    }
    bool HasLog() const { return fs::exists(folder.Path() / "VortaFWUpdateTool.log"); }

    // Variables the next started tools get besides the usual ones.
    std::map<std::string, std::string> environment;
    // When set, the write end of a pipe the next started tools write their output to.
    int outputPipe = -1;
    // The next started tools run with standard input and output closed (a cron job, a daemon).
    bool closeInputAndOutput = false;
    TempFolder folder;
    fs::path tool;
    fs::path tmp;
    std::unique_ptr<SimulatorProcess> sim;
    std::vector<pid_t> running;
};

using Record = std::pair<std::wstring, std::wstring>;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a shell sees of an exit code.
constexpr int Status(int code) {
    return code & 0xFF;
}

}  // namespace

TEST_F(ToolCommandLine, RewritesADeviceAndLogsSuccess) {
    EXPECT_EQ(Run({"cl-old.invalid"}), Status(0));
    EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
    // The record names the image that was sent, as --version does.
    const std::wstring digest = LastRecordValue(L"ImageSHA256");
    EXPECT_EQ(digest.size(), 64U);
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_NE(ReadFile(folder.Path() / "stdout.txt")
                  .find("SHA-256 " + vc::EncodeUtf8(digest).value_or("")),
              std::string::npos);
}

TEST_F(ToolCommandLine, NewerFirmwareIsSkippedUnlessForced) {
    // A two-digit major number is newer than a one-digit one, not older.
    for (const char* host : {"cl-newer.invalid", "cl-ten.invalid"}) {
        EXPECT_EQ(Run({host}), Status(2)) << host;
        EXPECT_EQ(LastRecord(), (Record{L"2", L"Version Down - didn't rewrite"}));
        EXPECT_FALSE(HasRequest(host, "ChangeMode", 1)) << host;
    }
    EXPECT_EQ(Run({"cl-newer.invalid", "-d"}), Status(0));
    EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
}

// A rerun over a device that already runs the image touches it only for its test; "-d"
// rewrites it all the same.
TEST_F(ToolCommandLine, ARerunChangesNothingUnlessForced) {
    EXPECT_EQ(Run({"cl-old.invalid"}), Status(0));
    const std::size_t afterFirst = sim->Requests("cl-old.invalid").size();
    EXPECT_EQ(Run({"cl-old.invalid"}), Status(1));
    EXPECT_EQ(LastRecord(), (Record{L"1", L"Success - no need to rewrite"}));
    const auto requests = sim->Requests("cl-old.invalid");
    for (std::size_t i = afterFirst; i < requests.size(); ++i) {
        const std::string kind = TextOf(requests[i], "request");
        EXPECT_TRUE(kind == "priming" || kind == "GetInformation") << kind;
    }
    EXPECT_EQ(Run({"-d", "cl-old.invalid"}), Status(0));
    EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
}

// The engine gives itself back a while after the test's last device (VORTA_JOB_END_DELAY_MS);
// the command line waits for the job's end instead of failing its rewrite.
TEST_F(ToolCommandLine, WaitsForTheEngineBetweenTheTestAndTheRewrite) {
    ::setenv("VORTA_JOB_END_DELAY_MS", "1500", 1);
    const pid_t run = Start({"cl-old.invalid"});
    ::unsetenv("VORTA_JOB_END_DELAY_MS");
    EXPECT_EQ(Finish(run), Status(0));
    EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
    EXPECT_TRUE(HasRequest("cl-old.invalid", "Update", 11));
}

TEST_F(ToolCommandLine, FailuresGiveTheirCodesAndTexts) {
    EXPECT_EQ(Run({"nobody.invalid"}), Status(-100));  // no such device: the test times out
    EXPECT_EQ(LastRecord(), (Record{L"-100", L"Failed to communicate."}));
    EXPECT_EQ(Run({"-d", "cl-printing.invalid"}), Status(-200));
    EXPECT_EQ(LastRecord(), (Record{L"-200", L"Failed to rewrite - printing."}));
}

// The conventions every command-line tool has: --help and --version end at once with 0 and
// write to standard output; no arguments without a display is a failure a script can see.
TEST_F(ToolCommandLine, HelpVersionAndNoDisplay) {
    EXPECT_EQ(Run({"--help"}), 0);
    const std::string help = ReadFile(folder.Path() / "stdout.txt");
    EXPECT_NE(help.find("Usage: VortaFWUpdateTool"), std::string::npos) << help;
    for (const char* option : {"-d", "@LIST", "-jN", "--version"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    fs::remove(folder.Path() / "stdout.txt");
    EXPECT_EQ(Run({"--version"}), 0);
    const std::string version = ReadFile(folder.Path() / "stdout.txt");
    EXPECT_NE(version.find("update image Ver.3.01TC"), std::string::npos) << version;
    EXPECT_NE(version.find("engine VortaFWUpdateModule.so"), std::string::npos) << version;

    std::map<std::string, std::string> saved;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const char* value = std::getenv(name)) {
            saved[name] = value;
        }
        ::unsetenv(name);
    }
    EXPECT_EQ(Run({}), Status(-300));
    for (const auto& [name, value] : saved) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    EXPECT_NE(StandardError().find("no display for the wizard"), std::string::npos);
    EXPECT_FALSE(HasLog());
    EXPECT_TRUE(sim->Requests("cl-old.invalid").empty());
}

// In a network namespace of its own the tool sees only a loopback interface, which has no
// hardware address: the run says so and ends before contacting anyone.
TEST_F(ToolCommandLine, NoNetworkInterfaceEndsBeforeAnyDeviceIsContacted) {
    if (::geteuid() != 0 || std::system("unshare --net true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs root and private network namespaces";
    }
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"cl-old.invalid"},
          std::vector<std::string>{ListArgument("one.txt", "cl-old.invalid\n")}}) {
        fs::remove(folder.Path() / "stderr.txt");
        EXPECT_EQ(Finish(Start(arguments, {"unshare", "--net"})), Status(-100));
        EXPECT_NE(StandardError().find("no network interface with a hardware address"),
                  std::string::npos)
            << StandardError();
    }
    EXPECT_FALSE(HasLog());
    EXPECT_TRUE(sim->Requests("cl-old.invalid").empty());
}

TEST_F(ToolCommandLine, RefusedHostNameEndsWithoutARecord) {
    EXPECT_EQ(Run({"bad_name"}), Status(-100));
    EXPECT_EQ(Run({"-d"}), Status(-100));
    EXPECT_FALSE(HasLog());
}

TEST_F(ToolCommandLine, SecondInstanceIsRefusedAndLogged) {
    talbo::tesk::vorta::SingleInstanceLock first("VortaFWUpdateTool");
    ASSERT_TRUE(first.Acquired());
    EXPECT_EQ(Run({"cl-old.invalid"}), Status(-2));
    EXPECT_EQ(LastRecord(), (Record{L"-2", L"This tool is already running."}));
}

TEST_F(ToolCommandLine, RefusedSecondInstancesStartedAtOnceLoseNoRecord) {
    talbo::tesk::vorta::SingleInstanceLock first("VortaFWUpdateTool");
    ASSERT_TRUE(first.Acquired());
    constexpr int kInstances = 10;
    std::vector<pid_t> runs;
    for (int i = 0; i < kInstances; ++i) {
        runs.push_back(Start({"cl-old.invalid"}));
    }
    for (const pid_t run : runs) {
        EXPECT_EQ(Finish(run, true), Status(-2));
    }
    EXPECT_TRUE(fs::is_empty(tmp));
    const auto log = vc::IniFile::Load(folder.Path() / "VortaFWUpdateTool.log");
    ASSERT_TRUE(log);
    const std::wstring date = log->Document().Get(L"LAST_POS", L"DATE").value_or(L"");
    EXPECT_EQ(log->Document().Get(L"LAST_POS", L"NO"), L"009");
    for (int i = 0; i < kInstances; ++i) {
        wchar_t number[8];
        std::swprintf(number, 8, L"-%03d", i);
        EXPECT_EQ(log->Document().Get(date + number, L"Result"), L"-2") << i;
    }
}

// An engine that another process holds (here a probe that keeps it loaded, as a copy of the tool
// under another file name would) is a failed start, not a success.
TEST_F(ToolCommandLine, EngineHeldElsewhereFailsTheStartAndSaysWhy) {
    vorta_test::ProbeProcess holder(VORTA_MODULE_PROBE_PATH, VORTA_MODULE_PATH, true);
    ASSERT_EQ(holder.ReadLine(), "engine=ok");
    EXPECT_EQ(Run({"cl-old.invalid"}), 212);
    EXPECT_EQ(LastRecord(),
              (Record{L"-300", L"Failed to start - the tool could not prepare its engine."}));
    EXPECT_NE(StandardError().find("another process holds the engine"), std::string::npos)
        << StandardError();
    EXPECT_TRUE(sim->Requests("cl-old.invalid").empty());
}

// A damaged copy of the tool (one byte of the carried engine or image changed, as a bad download
// or a flipped bit would) ends before it loads or sends anything: exit -300, a record saying
// what is damaged, one line on standard error naming it, and no device contacted. The engine
// itself could not tell: it digests the blocks it is given.
TEST_F(ToolCommandLine, DamagedCopyOfTheToolFailsTheStartAndContactsNoDevice) {
    const std::string intact = ReadFile(tool);
    const struct {
        const char* what;
        const char* blobFile;
        const char* said;
        std::wstring detail;
    } cases[] = {
        {"engine", VORTA_MODULE_PATH, "the engine library carried in the executable is damaged",
         L"Failed to start - the engine carried in this tool is damaged. Get a new copy of the "
         L"tool."},
        {"image", VORTA_CARRIED_IMAGE_PATH, "the update image carried in the executable is damaged",
         L"Failed to start - the update image carried in this tool is damaged. Get a new copy of "
         L"the tool."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The blob lies in the executable as it lies in its file; its first 64 KiB find it.
        const std::string blob = ReadFile(c.blobFile);
        ASSERT_GT(blob.size(), 65536U);
        const std::string_view start(blob.data(), 65536);
        const auto found =
            std::search(intact.begin(), intact.end(),
                        std::boyer_moore_horspool_searcher(start.begin(), start.end()));
        ASSERT_NE(found, intact.end());
        std::string damaged = intact;
        damaged[static_cast<std::size_t>(found - intact.begin()) + blob.size() / 2] ^= 0x10;
        std::ofstream(tool, std::ios::binary | std::ios::trunc) << damaged;
        fs::remove(folder.Path() / "stderr.txt");
        EXPECT_EQ(Run({"cl-old.invalid"}), Status(-300));
        EXPECT_EQ(LastRecord(), (Record{L"-300", c.detail}));
        const std::string said = StandardError();
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_TRUE(sim->Requests("cl-old.invalid").empty());
    }
}

// A temporary folder on a file system mounted noexec: the engine cannot be loaded from it.
TEST_F(ToolCommandLine, EngineThatCannotBeLoadedFailsTheStart) {
    if (::geteuid() != 0 || std::system("unshare --mount true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs root and private mount namespaces";
    }
    const std::vector<std::string> noexecTmp = {
        "unshare",
        "--mount",
        "--propagation",
        "private",
        "sh",
        "-c",
        "mount -t tmpfs -o noexec,mode=0777 tmpfs \"$TMPDIR\" && exec \"$0\" \"$@\""};
    EXPECT_EQ(Finish(Start({"cl-old.invalid"}, noexecTmp)), 212);
    EXPECT_EQ(LastRecord(),
              (Record{L"-300", L"Failed to start - the tool could not prepare its engine."}));
    EXPECT_NE(StandardError().find("could not load the engine library"), std::string::npos)
        << StandardError();
}

TEST_F(ToolCommandLine, StopSignalBeforeTheRewriteEndsTheRunCleanly) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        const std::size_t primed = Primings("cl-slow.invalid");
        const pid_t run = Start({"cl-slow.invalid"});
        // The test's exchange has begun: its answer is 5 s away.
        ASSERT_TRUE(WhileRunning(run, [&] { return Primings("cl-slow.invalid") > primed; }))
            << StandardError();
        ::kill(run, signal);
        EXPECT_EQ(Finish(run), Status(-200));
        EXPECT_EQ(LastRecord(),
                  (Record{L"-200",
                          L"Interrupted - run the tool again to finish rewriting this "
                          L"device."}));
    }
}

// The first signal during the rewrite lets the device finish and says so at once; a second ends
// the run now, and a later run resumes the device.
TEST_F(ToolCommandLine, FirstSignalDuringTheRewriteDrainsTheSecondStopsAndALaterRunResumes) {
    {
        SCOPED_TRACE("one signal");
        const pid_t run = Start({"b-midway-2.invalid"});
        ASSERT_TRUE(WhileRunning(run, [&] {
            return HasRequest("b-midway-2.invalid", "ChangeMode", 2);
        })) << StandardError();
        ::kill(run, SIGTERM);
        EXPECT_EQ(Finish(run), Status(0));
        EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
        EXPECT_NE(StandardError().find("no further device starts; 1 device(s) in progress will "
                                       "finish"),
                  std::string::npos)
            << StandardError();
    }
    const pid_t run = Start({"cl-midway.invalid"});
    // The device has changed mode for the second image part; the third is on its way and is
    // answered 5 s later.
    ASSERT_TRUE(WhileRunning(run, [&] { return HasRequest("cl-midway.invalid", "ChangeMode", 2); }))
        << StandardError();
    // The second signal must come after the first was taken (two pending SIGINTs are one), so
    // wait for this run's own notice; the first run above wrote one too.
    const auto notices = [this] {
        const std::string said = StandardError();
        std::size_t count = 0;
        for (std::size_t at = said.find("no further device starts"); at != std::string::npos;
             at = said.find("no further device starts", at + 1)) {
            ++count;
        }
        return count;
    };
    const std::size_t noticesBefore = notices();
    ::kill(run, SIGINT);
    ASSERT_TRUE(WhileRunning(run, [&] { return notices() > noticesBefore; })) << StandardError();
    EXPECT_NE(StandardError().find("leaves them unfinished"), std::string::npos) << StandardError();
    ::kill(run, SIGINT);
    EXPECT_EQ(Finish(run), Status(-200));
    EXPECT_EQ(LastRecord(), (Record{L"-200",
                                    L"Interrupted - run the tool again to finish rewriting this "
                                    L"device."}));
    // Once the device has taken the third image part, a new run carries the rewrite to its end.
    ASSERT_TRUE(Eventually([&] { return HasRequest("cl-midway.invalid", "Update", 3); },
                           std::chrono::seconds(60)));
    EXPECT_EQ(Run({"cl-midway.invalid"}), Status(0));
    EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
}

TEST_F(ToolCommandLine, FolderOfAKilledRunIsRemovedAtTheNextStart) {
    const pid_t run = Start({"cl-slow.invalid"});
    ASSERT_TRUE(WhileRunning(run, [&] { return Primings("cl-slow.invalid") > 0; }))
        << StandardError();
    ::kill(run, SIGKILL);
    int status = 0;
    ::waitpid(run, &status, 0);
    EXPECT_FALSE(fs::is_empty(tmp));
    EXPECT_EQ(Run({"bad_name"}), Status(-100));  // checks that tmp is empty again
}

namespace {

using DeviceLines = std::map<std::string, std::pair<int, std::string>>;

const std::string kSuccess = "Success";
const std::string kInterrupted =
    "Interrupted - run the tool again to finish rewriting this device.";

std::string Narrow(const std::wstring& text) {
    return vc::EncodeUtf8(text).value_or("<not UTF-8>");
}

}  // namespace

// A mixed fleet in one batch: every device ends as a run of its own would end it, with one line
// on standard output and one key in the run's log section, and the run exits with the most
// severe code. Devices whose test failed are never rewritten.
TEST_F(ToolCommandLine, BatchEndsEveryDeviceAsItsOwnRunWould) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::string list;
        DeviceLines expected;
        int exitCode;
        std::string detail;
    };
    const Case cases[] = {
        {"mixed fleet, four at a time",
         {"-j4"},
         "b-idle.invalid\nb-newer.invalid\r\nb-same.invalid\n\nb-busy.invalid\nb-gone.invalid\n"
         "nobody.invalid\nb-printing.invalid\nb-idle.invalid\n",
         {{"b-idle.invalid", {0, kSuccess}},
          {"b-newer.invalid", {2, "Version Down - didn't rewrite"}},
          {"b-same.invalid", {1, "Success - no need to rewrite"}},
          {"b-busy.invalid", {-100, "Failed to rewrite - printing."}},
          {"b-gone.invalid", {-200, "Failed to communicate."}},
          {"nobody.invalid", {-100, "Failed to communicate."}},
          {"b-printing.invalid", {-200, "Failed to rewrite - printing."}}},
         -200,
         "Failed to communicate."},
        {"-d rewrites newer firmware, the engine's one at a time",
         {"-d"},
         "b-newer-2.invalid\nb-idle-2.invalid",
         {{"b-newer-2.invalid", {0, kSuccess}}, {"b-idle-2.invalid", {0, kSuccess}}},
         0,
         kSuccess},
        {"a list as an editor saved it: byte order mark, blanks, a line of blanks",
         {},
         "\xEF\xBB\xBF b-same.invalid\t\r\n \t \r\nb-newer.invalid  \r\n",
         {{"b-same.invalid", {1, "Success - no need to rewrite"}},
          {"b-newer.invalid", {2, "Version Down - didn't rewrite"}}},
         2,
         "Version Down - didn't rewrite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.begin() + static_cast<std::ptrdiff_t>(arguments.size() / 2),
                         ListArgument("fleet.txt", c.list));
        EXPECT_EQ(Run(arguments), Status(c.exitCode)) << StandardError();
        EXPECT_EQ(TakeDeviceLines(), c.expected);
        EXPECT_EQ(LastRecordValue(L"Result"), std::to_wstring(c.exitCode));
        EXPECT_EQ(Narrow(LastRecordValue(L"Detail")), c.detail);
        for (const auto& [host, line] : c.expected) {
            EXPECT_EQ(Narrow(LastRecordValue(vc::DecodeUtf8(host).value())),
                      std::to_string(line.first) + " " + line.second)
                << host;
        }
    }
    for (const char* failedTest : {"b-busy.invalid", "nobody.invalid"}) {
        for (const auto& request : sim->Requests(failedTest)) {
            EXPECT_NE(TextOf(request, "request"), "ChangeMode") << failedTest;
        }
    }
}

// Arguments or a list that cannot be used: -100, one line on standard error saying why, no
// record and no device contacted.
TEST_F(ToolCommandLine, RefusedBatchDoesNothing) {
    const std::string good = ListArgument("good.txt", "b-idle.invalid\n");
    const struct {
        std::vector<std::string> arguments;
        std::string says;
    } cases[] = {
        {{ListArgument("bad.txt", "b-idle.invalid\r\n\r\nb idle\r\nb-same.invalid\r\n")},
         "bad.txt line 3: \"b idle\" is not a host name"},
        // The HTTP library would send it to 127.0.0.8.
        {{ListArgument("octal.txt", "b-idle.invalid\n\n 127.0.0.010\nb-same.invalid\n"), "-j3"},
         "octal.txt line 3: 127.0.0.010 has a part with a leading zero, which is read as octal "
         "(127.0.0.8); write the address in plain decimal, as in 127.0.0.10; nothing was done"},
        {{ListArgument("empty.txt", "\n\n")}, "names no device"},
        {{"@" + (folder.Path() / "missing.txt").string()}, "cannot read the device list"},
        {{good, "-j0"}, "invalid \"-j0\""},
        {{"-j65", good}, "invalid \"-j65\""},
        {{"-d", good, "-jx"}, "invalid \"-jx\""},
        {{good, good}, "unexpected"},
        {{good, "b-idle.invalid"}, "unexpected \"b-idle.invalid\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        fs::remove(folder.Path() / "stderr.txt");
        EXPECT_EQ(Run(c.arguments), Status(-100));
        const std::string said = StandardError();
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_TRUE(TakeDeviceLines().empty());
    }
    EXPECT_FALSE(HasLog());
    EXPECT_TRUE(sim->Requests("b-idle.invalid").empty());
}

// Spellings that differ in letter case or a trailing dot name one device: the batch keeps the
// first, says which lines it drops, and the device enters its update mode once, even with
// room for all three at a time.
TEST_F(ToolCommandLine, BatchRegistersOneDeviceUnderItsFirstSpelling) {
    EXPECT_EQ(Run({"-j3", ListArgument("hosts.txt", "dup.invalid\nDUP.INVALID\ndup.invalid.\n")}),
              Status(0))
        << StandardError();
    const std::string said = StandardError();
    for (const std::string& notice :
         {std::string("hosts.txt line 2: DUP.INVALID names the same device as line 1 "
                      "(dup.invalid); dropped\n"),
          std::string("hosts.txt line 3: dup.invalid. names the same device as line 1 "
                      "(dup.invalid); dropped\n")}) {
        EXPECT_NE(said.find(notice), std::string::npos) << said;
    }
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 3) << said;  // and the log's path
    EXPECT_EQ(TakeDeviceLines(), (DeviceLines{{"dup.invalid", {0, kSuccess}}}));
    EXPECT_EQ(Narrow(LastRecordValue(L"dup.invalid")), "0 " + kSuccess);
    std::size_t entered = 0;
    for (const auto& request : sim->Requests()) {
        EXPECT_EQ(TextOf(request, "device"), "dup.invalid") << request;  // no other spelling
        entered += TextOf(request, "request") == "ChangeMode" &&
                   TextOf(request, "part") == "BackupSettingValue";
    }
    EXPECT_EQ(entered, 1U);
}

// A signal during the tests ends the batch at once; during the rewrite the first one drains and
// the second ends it. Every device not yet ended ends interrupted, and the log says so.
TEST_F(ToolCommandLine, StopSignalsEndABatchAndEveryUnfinishedDeviceIsInterrupted) {
    {
        SCOPED_TRACE("during the tests");
        const pid_t run =
            Start({"-j2", ListArgument("slow.txt", "b-idle.invalid\ncl-slow.invalid\n")});
        ASSERT_TRUE(WhileRunning(run, [&] { return Primings("cl-slow.invalid") > 0; }))
            << StandardError();
        ::kill(run, SIGTERM);
        EXPECT_EQ(Finish(run), Status(-200));
        const DeviceLines lines = TakeDeviceLines();
        EXPECT_EQ(lines, (DeviceLines{{"b-idle.invalid", {-200, kInterrupted}},
                                      {"cl-slow.invalid", {-200, kInterrupted}}}));
        EXPECT_EQ(LastRecordValue(L"Result"), L"-200");
        EXPECT_EQ(Narrow(LastRecordValue(L"Detail")), kInterrupted);
        EXPECT_FALSE(HasRequest("b-idle.invalid", "ChangeMode", 1));
    }
    {
        SCOPED_TRACE("during the rewrite");
        const pid_t run = Start({ListArgument("midway.txt", "b-midway.invalid\n")});
        ASSERT_TRUE(WhileRunning(run, [&] {
            return HasRequest("b-midway.invalid", "ChangeMode", 2);
        })) << StandardError();
        ::kill(run, SIGINT);
        ASSERT_TRUE(WhileRunning(run, [&] {
            return StandardError().find("no further device starts") != std::string::npos;
        })) << StandardError();
        ::kill(run, SIGINT);
        EXPECT_EQ(Finish(run), Status(-200));
        EXPECT_EQ(TakeDeviceLines(), (DeviceLines{{"b-midway.invalid", {-200, kInterrupted}}}));
        EXPECT_EQ(Narrow(LastRecordValue(L"b-midway.invalid")), "-200 " + kInterrupted);
    }
}

namespace {

std::string Hosts(const std::string& prefix, int from, int to) {
    std::string list;
    for (int i = from; i <= to; ++i) {
        list += prefix + std::to_string(i) + ".invalid\n";
    }
    return list;
}

// The JSON lines of a run on standard output; removes the file.
std::vector<nlohmann::json> TakeJsonLines(const fs::path& folder) {
    std::vector<nlohmann::json> lines;
    std::ifstream in(folder / "stdout.txt");
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::json::parse(line));
        EXPECT_EQ(lines.back()["schema"], 1) << line;
    }
    fs::remove(folder / "stdout.txt");
    return lines;
}

// RFC 4180 as a spreadsheet reads it: quoted fields with doubled quotes, CR LF rows.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(std::exchange(field, {}));
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.back().push_back(std::exchange(field, {}));
            rows.emplace_back();
            ++i;
        } else {
            field += c;
        }
    }
    rows.pop_back();  // after the last CR LF
    return rows;
}

// The position in the simulator's log of host's first request of a kind (SIZE_MAX: none) and
// of its last request of any kind.
std::pair<std::size_t, std::size_t> RequestSpan(const std::vector<nlohmann::json>& log,
                                                const std::string& host,
                                                const std::string& firstKind) {
    std::size_t first = SIZE_MAX;
    std::size_t last = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (TextOf(log[i], "device") != host) {
            continue;
        }
        last = i;
        if (first == SIZE_MAX && TextOf(log[i], "request") == firstKind) {
            first = i;
        }
    }
    return {first, last};
}

}  // namespace

// Waves run one after the other, each only when the one before has ended; a failed canary
// leaves every other device untouched, each with its "not started" line.
TEST_F(ToolCommandLine, WavesRunInOrderAndAFailedCanaryStopsTheRollout) {
    EXPECT_EQ(Run({ListArgument("canary.txt", "r-bad-1.invalid\n" + Hosts("r-ok-", 1, 4)),
                   "--waves", "1,50%", "-j2"}),
              Status(-200));
    const DeviceLines lines = TakeDeviceLines();
    ASSERT_EQ(lines.size(), 5U);
    EXPECT_EQ(lines.at("r-bad-1.invalid").first, -200);
    const std::string notStarted =
        "Not rewritten - the run was stopped before this device was started.";
    for (int i = 1; i <= 4; ++i) {
        const std::string host = "r-ok-" + std::to_string(i) + ".invalid";
        EXPECT_EQ(lines.at(host), (std::pair<int, std::string>{-200, notStarted})) << host;
        EXPECT_FALSE(HasRequest(host, "ChangeMode", 1)) << host;
        for (const auto& request : sim->Requests(host)) {
            const std::string kind = TextOf(request, "request");
            EXPECT_TRUE(kind == "priming" || kind == "GetInformation") << request;
        }
    }
    const std::string stopped =
        "Rollout stopped after 1 failed device(s); the devices not "
        "started were not touched.";
    EXPECT_EQ(Narrow(LastRecordValue(L"Detail")), stopped);
    EXPECT_NE(StandardError().find(stopped), std::string::npos) << StandardError();

    EXPECT_EQ(
        Run({ListArgument("waves.txt", Hosts("r-ok-", 5, 8)), "--waves", "1,50%", "-j4", "--json"}),
        Status(0));
    const std::vector<nlohmann::json> json = TakeJsonLines(folder.Path());
    ASSERT_EQ(json.size(), 5U);
    const std::map<std::string, int> waves = {
        {"r-ok-5.invalid", 1}, {"r-ok-6.invalid", 2}, {"r-ok-7.invalid", 3}, {"r-ok-8.invalid", 3}};
    for (std::size_t i = 0; i + 1 < json.size(); ++i) {
        EXPECT_EQ(json[i]["wave"], waves.at(json[i]["host"])) << json[i];
    }
    EXPECT_EQ(json.back()["type"], "summary");
    EXPECT_EQ(json.back()["waves_run"], 3);
    // Every device of a wave has had its last request before the next wave's first rewrite
    // request.
    const std::vector<nlohmann::json> log = sim->Requests();
    for (const auto& [early, earlyWave] : waves) {
        for (const auto& [late, lateWave] : waves) {
            if (lateWave > earlyWave) {
                EXPECT_LT(RequestSpan(log, early, "ChangeMode").second,
                          RequestSpan(log, late, "ChangeMode").first)
                    << early << " before " << late;
            }
        }
    }
}

// With --max-failures 2 no device starts after the second counted failure, however many run at
// once, and every device ends with a line; test failures do not count.
TEST_F(ToolCommandLine, StopRuleIsExactAtOneAndEightAtATime) {
    const struct {
        int atATime;
        std::string list;
        int started;  // at most, at -j8: the eight at once and the one after the first failure
    } cases[] = {
        // Each case has devices of its own: a device refused once has an unfinished update.
        {1, "nobody.invalid\n" + Hosts("r-bad-", 1, 5), 2},
        {8, Hosts("r-bad-", 6, 15), 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.atATime);
        EXPECT_EQ(Run({ListArgument("bad.txt", c.list), "--max-failures", "2",
                       "-j" + std::to_string(c.atATime)}),
                  Status(-200))
            << StandardError();
        const DeviceLines lines = TakeDeviceLines();
        EXPECT_EQ(lines.size(),
                  static_cast<std::size_t>(std::count(c.list.begin(), c.list.end(), '\n')));
        int started = 0;
        for (const auto& [host, line] : lines) {
            if (host == "nobody.invalid") {
                EXPECT_EQ(line.first, -100);
                continue;
            }
            const bool touched = HasRequest(host, "ChangeMode", 1);
            started += touched ? 1 : 0;
            EXPECT_EQ(line.second ==
                          "Not rewritten - the run was stopped before this device was started.",
                      !touched)
                << host;
            EXPECT_EQ(line.first, -200) << host;
        }
        if (c.atATime == 1) {
            EXPECT_EQ(started, 2);
        } else {
            EXPECT_GE(started, 8);
            EXPECT_LE(started, c.started);
        }
        EXPECT_EQ(Narrow(LastRecordValue(L"Detail")),
                  "Rollout stopped after 2 failed device(s); the devices not started were not "
                  "touched.");
    }
}

// A dry run tests every device and says what the rollout would do and in which wave; it sends
// nothing but the tests and writes no record.
TEST_F(ToolCommandLine, DryRunSendsNothingButTests) {
    EXPECT_EQ(Run({ListArgument("dry.txt",
                                "r-ok-1.invalid\nr-ok-2.invalid\nb-newer.invalid\nb-same.invalid\n"
                                "b-busy.invalid\n"),
                   "--dry-run", "--waves", "1,100%"}),
              Status(-100));
    const DeviceLines expected = {
        {"r-ok-1.invalid", {0, "would rewrite (wave 1)"}},
        {"r-ok-2.invalid", {0, "would rewrite (wave 2)"}},
        {"b-newer.invalid", {0, "newer firmware, would skip (wave 1)"}},
        {"b-same.invalid", {0, "already current, would leave alone (wave 1)"}},
        {"b-busy.invalid", {-100, "Failed to rewrite - printing."}},
    };
    EXPECT_EQ(TakeDeviceLines(), expected);
    for (const auto& request : sim->Requests()) {
        const std::string kind = TextOf(request, "request");
        EXPECT_TRUE(kind == "priming" || kind == "GetInformation") << request;
    }
    EXPECT_FALSE(HasLog());
    EXPECT_EQ(Run({"r-ok-1.invalid", "--dry-run", "-d"}), Status(0));
    EXPECT_EQ(TakeDeviceLines(), (DeviceLines{{"r-ok-1.invalid", {0, "would rewrite"}}}));
    EXPECT_FALSE(HasLog());
}

// The JSON lines and the CSV report say what the log says, device by device.
TEST_F(ToolCommandLine, JsonLinesAndCsvReportAgreeWithTheLog) {
    const fs::path report = folder.Path() / "report.csv";
    EXPECT_EQ(Run({ListArgument("mixed.txt", "r-ok-9.invalid\nb-newer.invalid\nnobody.invalid\n"),
                   "--json", "--report", report.string(), "-j2"}),
              Status(-100));
    const std::vector<nlohmann::json> json = TakeJsonLines(folder.Path());
    ASSERT_EQ(json.size(), 4U);
    const nlohmann::json& summary = json.back();
    EXPECT_EQ(summary["type"], "summary");
    EXPECT_EQ(summary["exit_code"], -100);
    EXPECT_EQ(summary["devices"], 3);
    EXPECT_EQ(summary["outcomes"]["0"], 1);
    EXPECT_EQ(summary["image_version"], "Ver.3.01TC");
    EXPECT_EQ(summary["image_sha256"].get<std::string>().size(), 64U);
    const std::vector<std::vector<std::string>> csv = ParseCsv(ReadFile(report));
    ASSERT_EQ(csv.size(), 4U);
    EXPECT_EQ(csv[0][0], "host");
    std::map<std::string, std::vector<std::string>> rows;
    for (std::size_t i = 1; i < csv.size(); ++i) {
        ASSERT_EQ(csv[i].size(), csv[0].size());
        rows[csv[i][0]] = csv[i];
    }
    for (std::size_t i = 0; i + 1 < json.size(); ++i) {
        const nlohmann::json& device = json[i];
        const std::string host = device["host"];
        SCOPED_TRACE(host);
        const std::vector<std::string>& row = rows.at(host);
        for (std::size_t column = 1; column < csv[0].size(); ++column) {
            const nlohmann::json& value = device[csv[0][column]];
            EXPECT_EQ(row[column], value.is_null()     ? ""
                                   : value.is_string() ? value.get<std::string>()
                                                       : value.dump())
                << csv[0][column];
        }
        EXPECT_EQ(Narrow(LastRecordValue(vc::DecodeUtf8(host).value())),
                  std::to_string(device["outcome"].get<int>()) + " " +
                      device["result"].get<std::string>());
    }
    EXPECT_EQ(rows.at("r-ok-9.invalid")[3], "Ver.3.01TC");  // read back after the rewrite
    EXPECT_EQ(rows.at("b-newer.invalid")[3], "");
}

// A device printing for its first two tests is tested again while the others go on, and
// rewritten once it is free; without --retry-busy it ends busy at once.
TEST_F(ToolCommandLine, BusyDeviceIsRetriedUntilItIsFree) {
    environment["VORTA_RETRY_BUSY_INTERVAL_MS"] = "300";
    EXPECT_EQ(Run({ListArgument("busy.txt", "r-busy.invalid\nr-ok-10.invalid\n"), "--retry-busy",
                   "1", "--json"}),
              Status(0));
    const std::vector<nlohmann::json> json = TakeJsonLines(folder.Path());
    ASSERT_EQ(json.size(), 3U);
    EXPECT_EQ(json[0]["host"], "r-ok-10.invalid");  // not held up by the busy one
    EXPECT_EQ(json[1]["host"], "r-busy.invalid");
    EXPECT_EQ(json[1]["outcome"], 0);
    EXPECT_EQ(json[1]["test_attempts"], 3);
    EXPECT_EQ(Run({"r-busy.invalid"}), Status(1));  // rewritten already: nothing to do
}

namespace {

const std::string kNotStarted =
    "Not rewritten - the run was stopped before this device was started.";

// Whether the device was sent nothing but tests.
bool OnlyTested(const std::vector<nlohmann::json>& requests) {
    return std::all_of(requests.begin(), requests.end(), [](const nlohmann::json& request) {
        const std::string kind = TextOf(request, "request");
        return kind == "priming" || kind == "GetInformation";
    });
}

}  // namespace

// One stop signal during a rollout stops starting devices: the canary in progress (or the two
// devices of a -j2 batch) finish, no later device is touched, and the run ends by itself with
// a line per device, its log section and a code that says not everything was rewritten.
TEST_F(ToolCommandLine, OneStopSignalDrainsTheRolloutAndTheRunEndsByItself) {
    const struct {
        int signal;
        std::vector<std::string> options;
        std::vector<std::string> started;
        std::vector<std::string> untouched;
        int times = 1;
    } cases[] = {
        {SIGINT,
         {"--waves", "1,50%", "-j1"},
         {"b-midway.invalid"},
         {"r-ok-1.invalid", "r-ok-2.invalid", "r-ok-3.invalid"}},
        {SIGTERM,
         {"-j2"},
         {"cl-midway.invalid", "b-midway-2.invalid"},
         {"r-ok-4.invalid", "r-ok-5.invalid"}},
        // A closed terminal: the shell and the kernel each send SIGHUP. One stop, not two.
        {SIGHUP, {"-j1"}, {"b-midway-3.invalid"}, {"r-ok-11.invalid"}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::strsignal(c.signal));
        std::string list;
        for (const auto* hosts : {&c.started, &c.untouched}) {
            for (const std::string& host : *hosts) {
                list += host + "\n";
            }
        }
        std::vector<std::string> arguments = c.options;
        arguments.push_back(ListArgument("drain.txt", list));
        const pid_t run = Start(arguments);
        ASSERT_TRUE(WhileRunning(run, [&] {
            return std::all_of(c.started.begin(), c.started.end(), [&](const std::string& host) {
                return HasRequest(host, "ChangeMode", 2);
            });
        })) << StandardError();
        for (int i = 0; i < c.times; ++i) {
            ::kill(run, c.signal);
        }
        EXPECT_EQ(Finish(run), Status(-200));
        const DeviceLines lines = TakeDeviceLines();
        EXPECT_EQ(lines.size(), c.started.size() + c.untouched.size());
        for (const std::string& host : c.started) {
            EXPECT_EQ(lines.at(host), (std::pair<int, std::string>{0, "Success"})) << host;
            EXPECT_EQ(Narrow(LastRecordValue(vc::DecodeUtf8(host).value())), "0 Success");
        }
        for (const std::string& host : c.untouched) {
            EXPECT_EQ(lines.at(host), (std::pair<int, std::string>{-200, kNotStarted})) << host;
            EXPECT_TRUE(OnlyTested(sim->Requests(host))) << host;
        }
        const std::string stopped = "Stopped by a signal: the devices in progress finished";
        EXPECT_EQ(Narrow(LastRecordValue(L"Detail")).rfind(stopped, 0), 0U);
        EXPECT_NE(StandardError().find(std::to_string(c.started.size()) +
                                       " device(s) in progress will finish"),
                  std::string::npos)
            << StandardError();
    }
}

// A reader that goes away (| head -n 1) ends nothing: every device is rewritten to its end and
// the log names every device.
TEST_F(ToolCommandLine, AClosedOutputEndsNoRun) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    outputPipe = fds[1];
    const std::vector<std::string> hosts = {"b-idle.invalid", "b-idle-2.invalid", "r-ok-6.invalid"};
    const pid_t run =
        Start({ListArgument("pipe.txt", hosts[0] + "\n" + hosts[1] + "\n" + hosts[2] + "\n"), "-j1",
               "--json"});
    outputPipe = -1;
    ::close(fds[1]);
    std::string first;
    for (char c = 0; ::read(fds[0], &c, 1) == 1 && c != '\n';) {
        first.push_back(c);
    }
    ::close(fds[0]);  // as head does after its line
    EXPECT_EQ(nlohmann::json::parse(first)["host"], hosts[0]);
    EXPECT_EQ(Finish(run), Status(0));
    for (const std::string& host : hosts) {
        EXPECT_TRUE(HasRequest(host, "Update", 11)) << host;
        EXPECT_EQ(Narrow(LastRecordValue(vc::DecodeUtf8(host).value())), "0 Success") << host;
    }
    // Standard input and output closed from the start: the device lines go nowhere, and never
    // into the tool's own stop-signal pipe.
    closeInputAndOutput = true;
    const std::vector<std::string> more = {"r-ok-12.invalid", "r-ok-13.invalid"};
    EXPECT_EQ(Run({ListArgument("closed.txt", more[0] + "\n" + more[1] + "\n"), "-j2"}), Status(0))
        << StandardError();
    for (const std::string& host : more) {
        EXPECT_TRUE(HasRequest(host, "Update", 11)) << host;
    }
}

// Gates open on evidence: a canary that turns busy at the rewrite's own test is no canary, and
// the next device takes its place before anyone else starts. A device that refuses its update
// mode because it prints is busy, never a failure: it fires no stop rule.
TEST_F(ToolCommandLine, GatesNeedDevicesThatReallyRanAndBusyIsNoFailure) {
    EXPECT_EQ(
        Run({ListArgument("gate.txt", "b-busy-later.invalid\nr-ok-7.invalid\nr-ok-8.invalid\n"),
             "--waves", "1,100%", "-j2"}),
        Status(-200));
    DeviceLines lines = TakeDeviceLines();
    EXPECT_EQ(lines.at("b-busy-later.invalid"),
              (std::pair<int, std::string>{-200, "Failed to rewrite - printing."}));
    EXPECT_EQ(lines.at("r-ok-7.invalid").first, 0);
    EXPECT_EQ(lines.at("r-ok-8.invalid").first, 0);
    const std::vector<nlohmann::json> log = sim->Requests();
    EXPECT_LT(RequestSpan(log, "r-ok-7.invalid", "ChangeMode").second,
              RequestSpan(log, "r-ok-8.invalid", "ChangeMode").first);

    EXPECT_EQ(Run({ListArgument("printing.txt",
                                "b-prints-at-change.invalid\nr-ok-9.invalid\nr-ok-10.invalid\n"),
                   "--max-failures", "1", "-j1"}),
              Status(-200));
    lines = TakeDeviceLines();
    EXPECT_EQ(lines.at("b-prints-at-change.invalid"),
              (std::pair<int, std::string>{-200, "Failed to rewrite - printing."}));
    EXPECT_EQ(lines.at("r-ok-9.invalid").first, 0);
    EXPECT_EQ(lines.at("r-ok-10.invalid").first, 0);
}

// A device left half rewritten is finished whatever version it reports; arguments are taken as
// given, and a second host name is refused rather than ignored.
TEST_F(ToolCommandLine, UnfinishedUpdatesResumeAndArgumentsAreTakenAsGiven) {
    const fs::path report = folder.Path() / "r y.csv";
    EXPECT_EQ(Run({"b-broken-newer.invalid", "--report", report.string()}), Status(0));
    EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
    EXPECT_TRUE(fs::exists(report));
    EXPECT_TRUE(HasRequest("b-broken-newer.invalid", "ChangeMode", 6));
    EXPECT_FALSE(HasRequest("b-broken-newer.invalid", "ChangeMode", 1));

    const std::size_t before = sim->Requests().size();
    EXPECT_EQ(Run({"b-idle.invalid", "b-idle-2.invalid"}), Status(-100));
    EXPECT_NE(StandardError().find("\"b-idle-2.invalid\""), std::string::npos);
    EXPECT_NE(StandardError().find("@LIST"), std::string::npos);
    EXPECT_EQ(Run({"--json"}), Status(-100));
    EXPECT_NE(StandardError().find("no host name given"), std::string::npos) << StandardError();
    EXPECT_EQ(sim->Requests().size(), before);
}
