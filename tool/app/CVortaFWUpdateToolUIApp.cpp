#include "tool/app/CVortaFWUpdateToolUIApp.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/Utf8.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CarriedBlobDigest.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/ExitCodes.h"
#include "tool/app/RunFolder.h"
#include "tool/app/SystemInfo.h"
#include "tool/cli/CCommandLine.h"
#include "tool/cli/CResultLog.h"

namespace talbo::tesk::vorta {

namespace fs = std::filesystem;

namespace {

std::wstring PathText(const fs::path& path) {
    return common::DecodeUtf8(path.native()).value_or(common::BytesToWide(path.native()));
}

}  // namespace

CVortaFWUpdateToolUIApp::CVortaFWUpdateToolUIApp() {
    current = this;
}

CVortaFWUpdateToolUIApp::~CVortaFWUpdateToolUIApp() {
    if (current == this) {
        current = nullptr;
    }
}

int CVortaFWUpdateToolUIApp::Run(const std::vector<std::wstring>& arguments) {
    m_pStopSignals = std::make_unique<StopSignals>();
    InitInstance(arguments);
    return ExitInstance();
}

bool CVortaFWUpdateToolUIApp::InitInstance(const std::vector<std::wstring>& arguments) {
    const bool commandLineMode = !arguments.empty();
    CFilePath& paths = CFilePath::GetInstance();
    // Runs that were killed left their folders behind; nothing else ever removes them.
    for (const fs::path& base : RunFolder::TemporaryBases()) {
        RunFolder::RemoveAbandoned(base);
    }
    const bool japanese = SystemDefaultLocale() == kLocaleJapanese;
    m_nLanguageNumber = japanese ? kBlobStringsJapanese : kBlobStringsEnglish;
    if (paths.GetTempDirectory().empty()) {
        m_strStartupFailure = "could not make a private temporary folder (" +
                              std::string(std::strerror(paths.TempDirectoryError())) + ")";
        return FailStartup(commandLineMode);
    }
    if (!LoadLanguage(m_nLanguageNumber)) {
        return FailStartup(commandLineMode);
    }
    if (!LoadLicence(SystemDefaultLocale() == kLocaleJapanese ? kBlobLicenceJapanese
                                                              : kBlobLicenceEnglish)) {
        return FailStartup(commandLineMode);
    }
    if (!CheckStartConditions(commandLineMode)) {
        return false;
    }
    if (!UnpackEngine()) {
        return FailStartup(commandLineMode);
    }
    // Nothing of what was unpacked runs or reaches a device unless it is what the build carried.
    if (const wchar_t* damaged = CheckCarriedBlobs()) {
        return FailStartup(commandLineMode, damaged);
    }
    if (!LoadEngine()) {
        return FailStartup(commandLineMode);
    }
    if (commandLineMode) {
        CCommandLine commandLine;
        commandLine.Parse(arguments);
        m_nExitCode = commandLine.Run(*this);
    } else if (runWizard) {
        runWizard(*this, *m_hInstanceMutex);
    }
    return false;
}

int CVortaFWUpdateToolUIApp::ExitInstance() {
    // Unloading the engine stops a job that is still running (an interrupted run).
    if (m_hEngineModule != nullptr) {
        ::dlclose(m_hEngineModule);
        m_hEngineModule = nullptr;
        m_pfnGetController = nullptr;
        m_pfnGetModel = nullptr;
        m_pfnGetSettings = nullptr;
    }
    m_pEngineFile.reset();  // deletes the written library file
    return m_nExitCode;
}

namespace {

// What went wrong writing a carried file, for the line on standard error.
std::string WriteFailure(const CCarriedFile& file, const char* what, const fs::path& path) {
    if (!file.Found()) {
        return "the executable does not carry " + std::string(what);
    }
    return "could not write " + std::string(what) + " to " + path.string() + " (" +
           std::strerror(file.WriteError()) + ")";
}

}  // namespace

bool CVortaFWUpdateToolUIApp::LoadLanguage(int number) {
    CCarriedFile file(kBlobTypeLanguage, number);
    const fs::path path = CFilePath::GetInstance().GetPath(L"lang");
    if (!file.WriteTo(path)) {
        m_strStartupFailure = WriteFailure(file, "the interface strings", path);
        return false;
    }
    CUIStringTable& table = CUIStringTable::GetInstance();
    table.LoadDefaults();
    table.LoadFile(file.GetWrittenPath());
    m_bStringsLoaded = true;
    return true;
}

void CVortaFWUpdateToolUIApp::LoadLanguageFromMemory(int number) {
    CUIStringTable& table = CUIStringTable::GetInstance();
    table.LoadDefaults();
    if (const CarriedBlob* blob = FindCarriedBlob(kBlobTypeLanguage, number)) {
        table.LoadBytes(std::string_view(reinterpret_cast<const char*>(blob->bytes.data()),
                                         blob->bytes.size()));
    }
    m_bStringsLoaded = true;
}

bool CVortaFWUpdateToolUIApp::LoadLicence(int number) {
    CCarriedFile file(kBlobTypeLanguage, number);
    const fs::path path = CFilePath::GetInstance().GetPath(L"eula");
    if (!file.WriteTo(path)) {
        m_strStartupFailure = WriteFailure(file, "the licence text", path);
        return false;
    }
    CUIStringTable::GetInstance().LoadLicenceText(file.GetWrittenPath(),
                                                  number == kBlobLicenceJapanese
                                                      ? CUIStringTable::LicenceEncoding::Cp932
                                                      : CUIStringTable::LicenceEncoding::Ascii);
    return true;
}

bool CVortaFWUpdateToolUIApp::CheckStartConditions(bool commandLineMode) {
    CUIStringTable& table = CUIStringTable::GetInstance();
    bool result = true;
    if (!IsSupportedKernel(RunningKernelVersion())) {
        if (!commandLineMode && showError) {
            showError(table.GetText(L"MSG-000"));
        }
        m_nExitCode = kExitUnsupportedSystem;
        result = false;
    }
    const std::string instanceName = CFilePath::ExecutablePath().stem().string();
    m_hInstanceMutex = std::make_unique<SingleInstanceLock>(instanceName);
    if (!m_hInstanceMutex->Acquired()) {
        if (!commandLineMode) {
            SingleInstanceLock::AskHolderToRaise(instanceName);
        }
        m_nExitCode = kExitAlreadyRunning;
        result = false;
    }
    if (commandLineMode && !result) {
        const fs::path log = CFilePath::GetInstance().GetPath(L"log");
        if (m_nExitCode == kExitAlreadyRunning) {
            CResultLog::Write(log, kExitAlreadyRunning, table.GetText(L"STR-100"));
        } else {
            CResultLog::Write(log, kExitUnsupportedSystem, table.GetText(L"MSG-000"));
        }
    }
    return result;
}

bool CVortaFWUpdateToolUIApp::UnpackEngine() {
    m_pEngineFile = std::make_unique<CCarriedFile>(kBlobTypeDll, kBlobEngine);
    const fs::path path = CFilePath::GetInstance().GetPath(L"dll");
    if (!m_pEngineFile->WriteTo(path)) {
        m_strStartupFailure = WriteFailure(*m_pEngineFile, "the engine library", path);
        return false;
    }
    return true;
}

const wchar_t* CVortaFWUpdateToolUIApp::CheckCarriedBlobs() {
    // The engine as written is what dlopen will load; the image is checked in the executable
    // here, so that a damaged tool stops before any run, and each later copy of it for the
    // engine is checked again as it is written (LoadCarriedImage).
    const struct {
        std::wstring_view type;
        int number;
        const char* what;
        const wchar_t* damagedKey;
    } checks[] = {
        {kBlobTypeDll, kBlobEngine, "engine library", L"STR-310"},
        {kBlobTypeUpdateFile, kBlobUpdateImage, "update image", L"STR-311"},
    };
    for (const auto& check : checks) {
        const CarriedBlob* blob = FindCarriedBlob(check.type, check.number);
        if (blob == nullptr || blob->sha256.empty()) {
            continue;  // nothing recorded (a test's table); a missing image fails where it is used
        }
        int error = 0;
        const std::optional<std::string> actual =
            check.number == kBlobEngine ? FileSha256(m_pEngineFile->GetWrittenPath(), error)
                                        : CarriedBytesSha256(blob->bytes, error);
        if (!actual) {
            m_strStartupFailure = "could not read the carried " + std::string(check.what) +
                                  " to check it (" + std::strerror(error) + ")";
            return L"STR-300";
        }
        if (*actual != blob->sha256) {
            m_strStartupFailure = "the " + std::string(check.what) +
                                  " carried in the executable is damaged (its SHA-256 is " +
                                  *actual + ", the build recorded " + std::string(blob->sha256) +
                                  "); get a new copy of the tool";
            return check.damagedKey;
        }
    }
    return nullptr;
}

bool CVortaFWUpdateToolUIApp::LoadEngine() {
    const fs::path path = CFilePath::GetInstance().GetPath(L"dll");
    m_hEngineModule = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_hEngineModule == nullptr) {
        // A temporary folder on a file system mounted noexec ends here, among others.
        const char* reason = ::dlerror();
        m_strStartupFailure = "could not load the engine library (" +
                              std::string(reason != nullptr ? reason : path.string()) + ")";
        return false;
    }
    m_pfnGetController = reinterpret_cast<GetVortaUpdateControllerFn>(
        ::dlsym(m_hEngineModule, kControllerEntryName));
    m_pfnGetModel =
        reinterpret_cast<GetVortaUpdateModelFn>(::dlsym(m_hEngineModule, kModelEntryName));
    m_pfnGetSettings =
        reinterpret_cast<GetVortaUpdateSettingsFn>(::dlsym(m_hEngineModule, kSettingsEntryName));
    if (m_pfnGetController == nullptr || m_pfnGetModel == nullptr || m_pfnGetSettings == nullptr) {
        m_strStartupFailure = "the engine library lacks its entry points";
        return false;
    }
    // A copy of the engine that refused to load (another process holds it) answers null.
    if (Controller() == nullptr || Model() == nullptr || Settings() == nullptr) {
        m_strStartupFailure =
            "another process holds the engine (another copy of the tool, or a program using "
            "the engine library); only one can use it at a time";
        return false;
    }
    return true;
}

bool CVortaFWUpdateToolUIApp::FailStartup(bool commandLineMode, const wchar_t* textKey) {
    // The texts come from the carried blob in memory when the string file could not be written.
    if (!m_bStringsLoaded) {
        LoadLanguageFromMemory(m_nLanguageNumber);
    }
    const std::wstring text = CUIStringTable::GetInstance().GetText(textKey);
    // The exit code and the record or message box below tell the same when standard error cannot
    // take the line.
    static_cast<void>(std::fprintf(stderr, "VortaFWUpdateTool: failed to start: %s\n",
                                   m_strStartupFailure.c_str()));
    static_cast<void>(std::fflush(stderr));
    m_nExitCode = kExitStartupFailed;
    if (commandLineMode) {
        CResultLog::Write(CFilePath::GetInstance().GetPath(L"log"), kExitStartupFailed, text);
    } else if (showError) {
        showError(text);
    }
    return false;
}

CUpdateControllerExport* CVortaFWUpdateToolUIApp::Controller() const {
    return m_pfnGetController != nullptr ? m_pfnGetController() : nullptr;
}

CUpdateModelExport* CVortaFWUpdateToolUIApp::Model() const {
    return m_pfnGetModel != nullptr ? m_pfnGetModel() : nullptr;
}

CUpdateSettingsExport* CVortaFWUpdateToolUIApp::Settings() const {
    return m_pfnGetSettings != nullptr ? m_pfnGetSettings() : nullptr;
}

bool CVortaFWUpdateToolUIApp::JobEnded() const {
    CUpdateSettingsExport* settings = Settings();
    return settings == nullptr || settings->GetJobState() == EJobState::Idle;
}

CVortaFWUpdateToolUIApp::EImageLoad CVortaFWUpdateToolUIApp::LoadCarriedImage(
    const fs::path& path) {
    m_strImageCopyFailure.clear();
    CCarriedFile image(kBlobTypeUpdateFile, kBlobUpdateImage);
    // Start-up checked the image in the executable, but this copy may be made hours later, from
    // a file that may have been altered since: the copy is checked too, from the very bytes it
    // was written from, so that the engine never reads a file other than the one checked.
    const std::string_view recorded = image.RecordedSha256();
    if (recorded.empty() ? !image.WriteTo(path) : !image.WriteDigestedTo(path)) {
        return EImageLoad::Refused;
    }
    if (!recorded.empty() && image.GetWrittenSha256() != recorded) {
        m_strImageCopyFailure = "the copy of the update image written to " + path.string() +
                                " is damaged (its SHA-256 is " + image.GetWrittenSha256() +
                                ", the build recorded " + std::string(recorded) + ")";
        image.DeleteWrittenFile();
        return EImageLoad::CopyCorrupt;
    }
    CUpdateModelExport* model = Model();
    return model != nullptr && model->LoadUpdateImage(PathText(path).c_str()) ? EImageLoad::Loaded
                                                                              : EImageLoad::Refused;
}

bool CVortaFWUpdateToolUIApp::ExtractAndLoadImage(const fs::path& path) {
    return LoadCarriedImage(path) == EImageLoad::Loaded;
}

std::vector<std::wstring> Arguments(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        arguments.push_back(common::DecodeUtf8(argument).value_or(common::BytesToWide(argument)));
    }
    return arguments;
}

}  // namespace talbo::tesk::vorta
