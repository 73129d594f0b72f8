// The tool's command-line mode end to end: the real executable rewrites simulated devices and
// reports by exit code and result log, and leaves nothing in its temporary folder.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "SimulatorProcess.h"
#include "common/IniFile.h"
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
        const nlohmann::json fleet = {{"defaults", {{"restart-ms", 200}}},
                                      {"devices",
                                       {{{"host", "cl-old.invalid"}},
                                        {{"host", "cl-newer.invalid"}, {"firmware", "Ver.3.02TC"}},
                                        {{"host", "cl-printing.invalid"},
                                         {"faults",
                                          {{{"on", "Update"},
                                            {"part", 8},
                                            {"action", "refuse"},
                                            {"reason", "AnotherApp"},
                                            {"app-name", "Print"}}}}}}}};
        sim = std::make_unique<SimulatorProcess>(
            std::vector<std::string>{"--fleet", folder.Write("fleet.json", fleet.dump()).string()});
        ASSERT_TRUE(sim->Started()) << sim->StandardError();
    }

    // Runs the tool with the arguments; returns the exit status the shell sees (the low eight
    // bits of the code the tool returned).
    int Run(const std::vector<std::string>& arguments) {
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
            std::vector<char*> argv = {const_cast<char*>(tool.c_str())};
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(tool.c_str(), argv.data());
            std::_Exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        // Nothing the run wrote remains in its temporary folder.
        EXPECT_TRUE(fs::is_empty(tmp)) << "left behind in " << tmp;
        return WEXITSTATUS(status);
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

    TempFolder folder;
    fs::path tool;
    fs::path tmp;
    std::unique_ptr<SimulatorProcess> sim;
};

using Record = std::pair<std::wstring, std::wstring>;

// What a shell sees of an exit code.
constexpr int Status(int code) {
    return code & 0xFF;
}

}  // namespace

TEST_F(ToolCommandLine, RewritesADeviceAndLogsSuccess) {
    EXPECT_EQ(Run({"cl-old.invalid"}), Status(0));
    EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
}

TEST_F(ToolCommandLine, NewerFirmwareIsSkippedUnlessForced) {
    EXPECT_EQ(Run({"cl-newer.invalid"}), Status(2));
    EXPECT_EQ(LastRecord(), (Record{L"2", L"Version Down - didn't rewrite"}));
    EXPECT_EQ(Run({"cl-newer.invalid", "-d"}), Status(0));
    EXPECT_EQ(LastRecord(), (Record{L"0", L"Success"}));
}

TEST_F(ToolCommandLine, FailuresGiveTheirCodesAndTexts) {
    EXPECT_EQ(Run({"nobody.invalid"}), Status(-100));  // no such device: the test times out
    EXPECT_EQ(LastRecord(), (Record{L"-100", L"Failed to communicate."}));
    EXPECT_EQ(Run({"-d", "cl-printing.invalid"}), Status(-200));
    EXPECT_EQ(LastRecord(), (Record{L"-200", L"Failed to rewrite - printing."}));
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
