#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/interface/VortaFWUpdateModule.h"
#include "tool/app/CCarriedFile.h"
#include "tool/app/SingleInstanceLock.h"
#include "tool/cli/StopSignals.h"

namespace talbo::tesk::vorta {

// The application object: start-up in a fixed order (language, licence, command-line decision,
// start conditions, engine unpack, the check of the carried engine and image against the
// digests the build recorded, engine load, entry points), the command-line run or the wizard,
// and a teardown that leaves no written file behind. A start-up that cannot prepare the engine,
// or finds the engine or the image damaged, ends with kExitStartupFailed, says so (a line on
// standard error, and a log record on the command line or a message box in the wizard) and
// never runs a mode, so no device is contacted. From the start of Run on,
// SIGINT, SIGTERM and SIGHUP are caught (Signals()) so that both modes end through teardown.
class CVortaFWUpdateToolUIApp {
public:
    // Shows a message box (wizard mode) with the caption of "FSTR-0000".
    using MessageBoxFn = std::function<void(const std::wstring& text)>;
    // Runs the wizard; the lock lets it answer a second instance's request to come to the front.
    using WizardFn = std::function<void(CVortaFWUpdateToolUIApp& app, SingleInstanceLock& lock)>;

    CVortaFWUpdateToolUIApp();
    ~CVortaFWUpdateToolUIApp();

    static CVortaFWUpdateToolUIApp* Current() { return current; }

    // Runs start-up, the chosen mode and teardown; returns the process exit code. No
    // arguments: the wizard; any argument at all (an empty one too): the command line, which
    // takes the arguments exactly as given.
    int Run(const std::vector<std::wstring>& arguments);

    void SetWizard(WizardFn wizard) { runWizard = std::move(wizard); }
    void SetErrorMessageBox(MessageBoxFn box) { showError = std::move(box); }

    // The stop signals caught while Run runs (null before); the modes watch it.
    StopSignals* Signals() const { return m_pStopSignals.get(); }

    CUpdateControllerExport* Controller() const;
    CUpdateModelExport* Model() const;
    // The engine's job settings (devices at a time); null before the engine is loaded.
    CUpdateSettingsExport* Settings() const;
    // Whether the engine's job has ended (its state is idle), so that the next start or model
    // change is not refused for it; true before the engine is loaded.
    bool JobEnded() const;

    enum class EImageLoad {
        Loaded,  // the engine holds the image
        // The copy could not be written (a full disk, say), the engine is not loaded, or
        // LoadUpdateImage refused the file.
        Refused,
        // The copy's SHA-256, taken from exactly the bytes written as they were written, is not
        // the one the build recorded: the bytes changed since start-up checked them (the
        // executable's file altered or misread under the running tool). The engine was not
        // asked; nothing should go to a device. ImageCopyFailure says what differed.
        CopyCorrupt,
    };
    // Writes the carried update image to path (a new file, never over an existing one), checks
    // the copy against the digest the build recorded (when one was recorded), lets the engine
    // load it and deletes the file again before returning.
    EImageLoad LoadCarriedImage(const std::filesystem::path& path);
    // LoadCarriedImage(path) == Loaded, for callers that need no more.
    bool ExtractAndLoadImage(const std::filesystem::path& path);
    // After LoadCarriedImage gave CopyCorrupt: one line for standard error naming the copy and
    // both digests; empty otherwise.
    const std::string& ImageCopyFailure() const { return m_strImageCopyFailure; }

    int ExitCode() const { return m_nExitCode; }

private:
    bool InitInstance(const std::vector<std::wstring>& arguments);
    int ExitInstance();
    bool LoadLanguage(int number);
    bool LoadLicence(int number);
    // The interface strings straight from the carried blob, for when they cannot be written.
    void LoadLanguageFromMemory(int number);
    bool CheckStartConditions(bool commandLineMode);
    bool UnpackEngine();
    // Compares the engine file written by UnpackEngine and the carried image with the SHA-256
    // the build recorded for them. Null when both match (or nothing was recorded); otherwise
    // the key of the text that says what is damaged (or "STR-300" when a digest could not be
    // taken), with m_strStartupFailure set.
    const wchar_t* CheckCarriedBlobs();
    bool LoadEngine();
    // Ends start-up with kExitStartupFailed, naming m_strStartupFailure on standard error and
    // giving the text of textKey in the record or the message box; always false.
    bool FailStartup(bool commandLineMode, const wchar_t* textKey = L"STR-300");

    static inline CVortaFWUpdateToolUIApp* current = nullptr;

    void* m_hEngineModule = nullptr;
    std::unique_ptr<CCarriedFile> m_pEngineFile;
    GetVortaUpdateControllerFn m_pfnGetController = nullptr;
    GetVortaUpdateModelFn m_pfnGetModel = nullptr;
    GetVortaUpdateSettingsFn m_pfnGetSettings = nullptr;
    std::unique_ptr<SingleInstanceLock> m_hInstanceMutex;
    int m_nExitCode = 0;
    int m_nLanguageNumber = 0;
    bool m_bStringsLoaded = false;
    std::string m_strStartupFailure;  // what could not be prepared, for standard error
    std::string m_strImageCopyFailure;
    std::unique_ptr<StopSignals> m_pStopSignals;

    WizardFn runWizard;
    MessageBoxFn showError;
};

// The arguments after the program name, each as the system handed it over: decoded from UTF-8,
// or byte by byte where it is not valid UTF-8. Nothing is joined or split.
std::vector<std::wstring> Arguments(int argc, char** argv);

}  // namespace talbo::tesk::vorta
