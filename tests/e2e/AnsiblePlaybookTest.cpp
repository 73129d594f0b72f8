// The fleet playbook in contrib/ansible run the way its README shows, on this computer as the
// one site host (ansible-playbook -i localhost, -c local), against vorta-devsim. Skipped when
// ansible-playbook is not installed.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "SimulatorProcess.h"
#include "common/IniFile.h"

using namespace devsim_test;
namespace fs = std::filesystem;
namespace vc = talbo::tesk::vorta::common;

namespace {

bool HasAnsiblePlaybook() {
    return std::system("command -v ansible-playbook >/dev/null 2>&1") == 0;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// The site's batch runs, its log and device lines come back, a second run over the finished
// site changes nothing, and a site where a device failed fails its host only after its log has
// been fetched.
TEST(AnsiblePlaybook, RunsEachSitesBatchAndFetchesItsLog) {
    if (!HasAnsiblePlaybook()) {
        GTEST_SKIP() << "ansible-playbook is not installed (Debian package ansible-core)";
    }
    SimulatorProcess sim({"--devices", "2", "--restart-ms", "200"});
    ASSERT_TRUE(sim.Started()) << sim.StandardError();
    TempFolder folder;
    const struct {
        const char* name;
        std::string list;
        bool hostFails;
        std::vector<std::wstring> logged;
        bool changed;
        // What the play recap counts as changed; nullopt: not checked (a first run copies the
        // tool, a new list is copied too).
        std::optional<int> recapChanged;
    } cases[] = {
        {"every device rewritten",
         "device-1.invalid\ndevice-2.invalid\n",
         false,
         {L"0 Success", L"0 Success"},
         true,
         std::nullopt},
        // Nothing to rewrite, and fetching the results again is no change either.
        {"the same site again",
         "device-1.invalid\ndevice-2.invalid\n",
         false,
         {L"1 Success - no need to rewrite", L"1 Success - no need to rewrite"},
         false,
         0},
        // device-1 runs the image since the first run: the rerun leaves it alone.
        {"a device that does not answer",
         "device-1.invalid\nnobody.invalid\n",
         true,
         {L"1 Success - no need to rewrite", L"-100 Failed to communicate."},
         false,
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path results = folder.Path() / "results";
        fs::remove_all(results);
        const nlohmann::json vars = {
            {"vorta_tool", VORTA_TOOL_PATH},
            {"vorta_list", folder.Write("site.txt", c.list).string()},
            {"vorta_remote_dir", (folder.Path() / "site").string()},
            {"vorta_results", results.string()},
            {"vorta_devices_at_a_time", 2},
            {"vorta_environment",
             {{"http_proxy", "http://127.0.0.1:" + std::to_string(sim.Port())},
              {"no_proxy", ""},
              {"LANG", "C.UTF-8"},
              {"VORTA_REBOOT_FIRST_WAIT_MS", "150"},
              {"VORTA_REBOOT_RETRY_WAIT_MS", "100"},
              {"VORTA_REBOOT_RETRY_MAX", "20"}}}};
        const fs::path varsFile = folder.Write("vars.json", vars.dump());
        const fs::path output = folder.Path() / "ansible.txt";
        const std::string command = "ANSIBLE_HOME='" + (folder.Path() / "ansible").string() +
                                    "' ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=auto_silent "
                                    "ansible-playbook -i localhost, -c local '" VORTA_PLAYBOOK_PATH
                                    "' -e @'" +
                                    varsFile.string() + "' >'" + output.string() + "' 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << ReadAll(output);
        EXPECT_EQ(WEXITSTATUS(status) != 0, c.hostFails) << ReadAll(output);

        const auto log = vc::IniFile::Load(results / "localhost" / "VortaFWUpdateTool.log");
        ASSERT_TRUE(log) << ReadAll(output);
        const auto& doc = log->Document();
        const std::wstring section = doc.Get(L"LAST_POS", L"DATE").value_or(L"") + L"-" +
                                     doc.Get(L"LAST_POS", L"NO").value_or(L"");
        std::vector<std::wstring> logged;
        for (const std::wstring& key : doc.Keys(section)) {
            if (key != L"Result" && key != L"Detail" && key != L"ImageSHA256") {
                logged.push_back(doc.Get(section, key).value_or(L""));
            }
        }
        EXPECT_EQ(logged, c.logged);
        std::ifstream jsonl(results / "localhost" / "devices.jsonl");
        std::vector<nlohmann::json> lines;
        for (std::string line; std::getline(jsonl, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        ASSERT_EQ(lines.size(), 3U);  // two devices and the summary
        EXPECT_EQ(lines.back()["type"], "summary");
        // "changed" only where a device was rewritten: the rerun over device-1 is ok.
        const std::string said = ReadAll(output);
        const std::size_t task = said.find("TASK [The batch runs]");
        ASSERT_NE(task, std::string::npos) << said;
        const std::size_t verdict = said.find_first_not_of("*\n ", said.find('\n', task));
        EXPECT_EQ(said.substr(verdict, said.find(':', verdict) - verdict),
                  c.changed ? "changed" : "ok")
            << said;
        if (c.recapChanged) {
            constexpr std::string_view kChanged = " changed=";
            const std::size_t recap = said.find(kChanged, said.find("PLAY RECAP"));
            ASSERT_NE(recap, std::string::npos) << said;
            EXPECT_EQ(std::atoi(said.c_str() + recap + kChanged.size()), *c.recapChanged) << said;
        }
    }
}
