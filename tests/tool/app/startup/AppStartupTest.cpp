// Start-up decisions and teardown of the tool, driven in-process with blobs registered by the
// test (the real engine library among them).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/IniFile.h"
#include "tests/engine/interface/ProbeProcess.h"
#include "tests/tool/ShellArguments.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/RunFolder.h"
#include "tool/app/SystemInfo.h"

namespace tv = talbo::tesk::vorta;
namespace fs = std::filesystem;

namespace {

using shell::Args;

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    const auto text = tv::common::ReadWholeFile(path);
    return text ? std::vector<std::uint8_t>(text->begin(), text->end())
                : std::vector<std::uint8_t>{};
}

const fs::path kResources = fs::path(VORTA_SOURCE_DIR) / "tool" / "resources";

struct Blobs {
    std::vector<std::uint8_t> engine = ReadBytes(VORTA_MODULE_PATH);
    std::vector<std::uint8_t> english = ReadBytes(kResources / "en" / "ui.lng");
    std::vector<std::uint8_t> japanese = ReadBytes(kResources / "ja" / "ui.lng");
    std::vector<std::uint8_t> licenceEn = ReadBytes(kResources / "en" / "eula.txt");
    std::vector<std::uint8_t> licenceJa = ReadBytes(kResources / "ja" / "eula.txt");
    std::vector<std::uint8_t> image{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};

    std::vector<tv::CarriedBlob> Table(bool withLanguage = true) const {
        std::vector<tv::CarriedBlob> table = {
            {tv::kBlobTypeDll, tv::kBlobEngine, engine},
            {tv::kBlobTypeUpdateFile, tv::kBlobUpdateImage, image},
            {tv::kBlobTypeLanguage, tv::kBlobLicenceJapanese, licenceJa},
            {tv::kBlobTypeLanguage, tv::kBlobLicenceEnglish, licenceEn},
        };
        if (withLanguage) {
            table.push_back({tv::kBlobTypeLanguage, tv::kBlobStringsEnglish, english});
            table.push_back({tv::kBlobTypeLanguage, tv::kBlobStringsJapanese, japanese});
        }
        return table;
    }
};

const Blobs& TheBlobs() {
    static const Blobs blobs;
    return blobs;
}

class AppStartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TheBlobs().engine.empty());
        table = TheBlobs().Table();
        tv::SetCarriedBlobTable(table);
        logPath = tv::CFilePath::GetInstance().GetPath(L"log");
        fs::remove(logPath);
        ::setenv("LANG", "C.UTF-8", 1);
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
    }
    void TearDown() override {
        tv::SetKernelVersionSource({});
        tv::SetCarriedBlobTable({});
        fs::remove(logPath);
        // Nothing written at start-up survives the run; the folder keeps only the run lock this
        // process holds until it ends.
        const fs::path dir = tv::CFilePath::GetInstance().GetTempDirectory();
        ASSERT_FALSE(dir.empty());
        std::vector<fs::path> left;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            left.push_back(entry.path().filename());
        }
        EXPECT_EQ(left, std::vector<fs::path>{tv::RunFolder::kLockName}) << dir;
    }

    std::wstring Logged(const wchar_t* key) const {
        const auto file = tv::common::IniFile::Load(logPath);
        if (!file) {
            return L"<no log>";
        }
        const auto date = file->Document().Get(L"LAST_POS", L"DATE");
        const auto no = file->Document().Get(L"LAST_POS", L"NO");
        return file->Document().Get(*date + L"-" + *no, key).value_or(L"<none>");
    }

    static std::string InstanceName() { return tv::CFilePath::ExecutablePath().stem().string(); }

    std::vector<tv::CarriedBlob> table;
    fs::path logPath;
};

}  // namespace

TEST_F(AppStartupTest, WizardModeLoadsTheEngineAndLeavesNothingBehind) {
    tv::CVortaFWUpdateToolUIApp app;
    bool wizardRan = false;
    app.SetWizard([&](tv::CVortaFWUpdateToolUIApp& a, tv::SingleInstanceLock& lock) {
        wizardRan = true;
        EXPECT_NE(a.Model(), nullptr);
        EXPECT_NE(a.Controller(), nullptr);
        EXPECT_TRUE(lock.Acquired());
        EXPECT_TRUE(fs::exists(tv::CFilePath::GetInstance().GetPath(L"dll")));
        EXPECT_FALSE(fs::exists(tv::CFilePath::GetInstance().GetPath(L"lang")));
        EXPECT_FALSE(fs::exists(tv::CFilePath::GetInstance().GetPath(L"eula")));
        // The carried image is not a valid image: refused, and its file is gone again.
        EXPECT_FALSE(a.ExtractAndLoadImage(tv::CFilePath::GetInstance().GetPath(L"updateImage")));
        EXPECT_FALSE(fs::exists(tv::CFilePath::GetInstance().GetPath(L"updateImage")));
    });
    EXPECT_EQ(app.Run({}), 0);  // no arguments: the wizard, not the command line
    EXPECT_TRUE(wizardRan);
    EXPECT_EQ(tv::CUIStringTable::GetInstance().GetText(L"STR-001"), L"Success");
    EXPECT_FALSE(fs::exists(logPath));
}

TEST_F(AppStartupTest, JapaneseLocaleChoosesTheJapaneseBlobs) {
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    tv::CVortaFWUpdateToolUIApp app;
    EXPECT_EQ(app.Run(Args(L"")), 0);
    EXPECT_EQ(tv::CUIStringTable::GetInstance().GetText(L"STR-001"), L"成功");
    EXPECT_EQ(tv::CUIStringTable::GetInstance().GetText(L"FSTR-0102").rfind(L"使用許諾契約書", 0),
              0u);
}

TEST_F(AppStartupTest, CommandLineRefusesAnEmptyHostNameWithoutARecord) {
    for (const wchar_t* arguments : {L"-d", L"--json"}) {
        tv::CVortaFWUpdateToolUIApp app;  // holds the instance lock until destroyed
        EXPECT_EQ(app.Run(Args(arguments)), -100) << arguments;
        EXPECT_FALSE(fs::exists(logPath));
    }
}

TEST_F(AppStartupTest, UpperCaseOptionIsTakenAsTheHostNameAndItsTestFails) {
    // Every request goes to a loopback proxy port that nobody serves: the test times out.
    ::setenv("http_proxy", "http://127.0.0.1:1", 1);
    ::unsetenv("no_proxy");
    tv::CVortaFWUpdateToolUIApp app;
    EXPECT_EQ(app.Run(Args(L"-D")), -100);
    ::unsetenv("http_proxy");
    EXPECT_EQ(Logged(L"Result"), L"-100");
    EXPECT_EQ(Logged(L"Detail"), L"Failed to communicate.");
}

TEST_F(AppStartupTest, UnsupportedSystemIsRefusedAndLoggedOnTheCommandLine) {
    tv::SetKernelVersionSource([] { return std::optional<tv::KernelVersion>({4, 18}); });
    {
        tv::CVortaFWUpdateToolUIApp app;
        EXPECT_EQ(app.Run(Args(L"device-1")), -1);
        EXPECT_EQ(Logged(L"Result"), L"-1");
        EXPECT_EQ(Logged(L"Detail"), L"This utility does not support the OS that is now running.");
    }
    std::vector<std::wstring> boxes;
    tv::CVortaFWUpdateToolUIApp wizard;
    wizard.SetErrorMessageBox([&](const std::wstring& text) { boxes.push_back(text); });
    bool wizardRan = false;
    wizard.SetWizard([&](auto&, auto&) { wizardRan = true; });
    EXPECT_EQ(wizard.Run(Args(L"")), -1);
    EXPECT_FALSE(wizardRan);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], L"This utility does not support the OS that is now running.");
}

TEST_F(AppStartupTest, SecondInstanceIsRefusedAndRaisesTheFirst) {
    tv::SingleInstanceLock first(InstanceName());
    ASSERT_TRUE(first.Acquired());
    {
        tv::CVortaFWUpdateToolUIApp app;
        EXPECT_EQ(app.Run(Args(L"device-1 -d")), -2);
        EXPECT_EQ(Logged(L"Result"), L"-2");
        EXPECT_EQ(Logged(L"Detail"), L"This tool is already running.");
        EXPECT_FALSE(first.AcceptRaiseRequest());  // the command line raises no window
    }
    // Unsupported and second instance at once: -2 wins; the wizard still shows MSG-000 first.
    tv::SetKernelVersionSource([] { return std::optional<tv::KernelVersion>(); });
    std::vector<std::wstring> boxes;
    tv::CVortaFWUpdateToolUIApp wizard;
    wizard.SetErrorMessageBox([&](const std::wstring& text) { boxes.push_back(text); });
    EXPECT_EQ(wizard.Run(Args(L"")), -2);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(first.AcceptRaiseRequest());
}

// Every way start-up can fail to prepare the engine ends the same way: exit -300, one line on
// standard error naming what failed, and the "STR-300" text (read from the carried strings in
// memory, so it exists even when nothing can be written) in a record or a message box; an
// engine or image that is not what the build carried says which of the two is damaged instead.
TEST_F(AppStartupTest, StartUpThatCannotPrepareTheEngineFailsAndSaysWhy) {
    const std::wstring english = L"Failed to start - the tool could not prepare its engine.";
    const std::wstring japanese =
        L"起動できませんでした - 書き換えエンジンを準備できませんでした。";
    const std::vector<std::uint8_t> garbage(4096, 0x5A);
    std::unique_ptr<vorta_test::ProbeProcess> holder;
    const auto blockPath = [](const wchar_t* name) {
        return [name](std::vector<tv::CarriedBlob>&) {
            std::ofstream(tv::CFilePath::GetInstance().GetPath(name)) << "in the way";
        };
    };
    const std::wstring damagedEngine =
        L"Failed to start - the engine carried in this tool is damaged. Get a new copy of the "
        L"tool.";
    const std::wstring damagedImage =
        L"Failed to start - the update image carried in this tool is damaged. Get a new copy of "
        L"the tool.";
    const std::wstring damagedImageJapanese =
        L"起動できませんでした - ツールに含まれるアップデートイメージが破損しています。"
        L"ツールを入手し直してください。";
    // The bytes are intact; the build's record says otherwise, as for a flipped bit.
    const auto recordWrongDigest = [](int number) {
        return [number](std::vector<tv::CarriedBlob>& blobs) {
            for (tv::CarriedBlob& blob : blobs) {
                if (blob.number == number) {
                    blob.sha256 =
                        "00000000000000000000000000000000"
                        "00000000000000000000000000000000";
                }
            }
        };
    };
    const struct {
        const char* what;
        const char* lang;
        const wchar_t* arguments;
        std::function<void(std::vector<tv::CarriedBlob>&)> spoil;
        const char* named;
        std::optional<std::wstring> text;  // nullopt: not checked
    } cases[] = {
        {"strings cannot be written", "C.UTF-8", L"device-1.invalid", blockPath(L"lang"),
         "could not write the interface strings", english},
        {"strings cannot be written, Japanese", "ja_JP.UTF-8", L"device-1.invalid",
         blockPath(L"lang"), "could not write the interface strings", japanese},
        {"licence cannot be written", "C.UTF-8", L"device-1.invalid", blockPath(L"eula"),
         "could not write the licence text", english},
        {"engine cannot be written", "C.UTF-8", L"-d device-1.invalid", blockPath(L"dll"),
         "could not write the engine library", english},
        {"engine does not load", "C.UTF-8", L"device-1.invalid",
         [&](std::vector<tv::CarriedBlob>& blobs) {
             for (tv::CarriedBlob& blob : blobs) {
                 if (blob.number == tv::kBlobEngine) {
                     blob.bytes = garbage;
                 }
             }
         },
         "could not load the engine library", english},
        {"another process holds the engine", "C.UTF-8", L"device-1.invalid",
         [&](std::vector<tv::CarriedBlob>&) {
             holder = std::make_unique<vorta_test::ProbeProcess>(VORTA_MODULE_PROBE_PATH,
                                                                 VORTA_MODULE_PATH, true);
             ASSERT_EQ(holder->ReadLine(), "engine=ok");
         },
         "another process holds the engine", english},
        {"strings not carried at all", "C.UTF-8", L"device-1.invalid",
         [](std::vector<tv::CarriedBlob>& blobs) { blobs = TheBlobs().Table(false); },
         "the executable does not carry the interface strings", std::nullopt},
        {"engine differs from the digest the build recorded", "C.UTF-8", L"device-1.invalid",
         recordWrongDigest(tv::kBlobEngine),
         "the engine library carried in the executable is damaged", damagedEngine},
        {"image differs from the digest the build recorded, Japanese", "ja_JP.UTF-8",
         L"device-1.invalid", recordWrongDigest(tv::kBlobUpdateImage),
         "the update image carried in the executable is damaged", damagedImageJapanese},
        {"wizard: image differs from the digest the build recorded", "C.UTF-8", L"",
         recordWrongDigest(tv::kBlobUpdateImage),
         "the update image carried in the executable is damaged", damagedImage},
        {"wizard: engine does not load", "C.UTF-8", L"",
         [&](std::vector<tv::CarriedBlob>& blobs) {
             for (tv::CarriedBlob& blob : blobs) {
                 if (blob.number == tv::kBlobEngine) {
                     blob.bytes = garbage;
                 }
             }
         },
         "could not load the engine library", english},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::setenv("LANG", c.lang, 1);
        table = TheBlobs().Table();
        c.spoil(table);
        tv::SetCarriedBlobTable(table);
        std::vector<std::wstring> boxes;
        bool wizardRan = false;
        ::testing::internal::CaptureStderr();
        int code = 0;
        {
            tv::CVortaFWUpdateToolUIApp app;
            app.SetErrorMessageBox([&](const std::wstring& text) { boxes.push_back(text); });
            app.SetWizard([&](auto&, auto&) { wizardRan = true; });
            code = app.Run(Args(c.arguments));
        }
        const std::string stderrText = ::testing::internal::GetCapturedStderr();
        holder.reset();
        for (const wchar_t* name : {L"lang", L"eula", L"dll"}) {
            fs::remove(tv::CFilePath::GetInstance().GetPath(name));
        }
        EXPECT_EQ(code, -300);
        EXPECT_EQ(code & 0xFF, 212);  // what a shell sees
        EXPECT_FALSE(wizardRan);
        EXPECT_NE(stderrText.find(c.named), std::string::npos) << stderrText;
        EXPECT_EQ(std::count(stderrText.begin(), stderrText.end(), '\n'), 1) << stderrText;
        if (*c.arguments == L'\0') {
            EXPECT_FALSE(fs::exists(logPath));
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0], c.text.value_or(boxes[0]));
        } else {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(Logged(L"Result"), L"-300");
            if (c.text) {
                EXPECT_EQ(Logged(L"Detail"), *c.text);
            }
        }
        fs::remove(logPath);
    }
}
