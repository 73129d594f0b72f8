#include "tool/app/CVortaFWUpdateToolUIApp.h"

#include <dlfcn.h>

#include "common/Utf8.h"
#include "tool/app/CCommandLine.h"
#include "tool/app/CFilePath.h"
#include "tool/app/CResultLog.h"
#include "tool/app/CUIStringTable.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/SystemInfo.h"

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

int CVortaFWUpdateToolUIApp::Run(const std::wstring& argumentText) {
    InitInstance(argumentText);
    return ExitInstance();
}

bool CVortaFWUpdateToolUIApp::InitInstance(const std::wstring& argumentText) {
    CFilePath::GetInstance();
    const bool japanese = SystemDefaultLocale() == kLocaleJapanese;
    if (!LoadLanguage(japanese ? kBlobStringsJapanese : kBlobStringsEnglish)) {
        return false;
    }
    if (!LoadLicence(SystemDefaultLocale() == kLocaleJapanese ? kBlobLicenceJapanese
                                                              : kBlobLicenceEnglish)) {
        return false;
    }
    const bool commandLineMode = argumentText.find_first_not_of(L' ') != std::wstring::npos;
    if (!CheckStartConditions(commandLineMode)) {
        return false;
    }
    if (!UnpackEngine()) {
        return false;
    }
    m_hEngineModule =
        ::dlopen(CFilePath::GetInstance().GetPath(L"dll").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_hEngineModule == nullptr) {
        return false;
    }
    m_pfnGetController = reinterpret_cast<GetVortaUpdateControllerFn>(
        ::dlsym(m_hEngineModule, kControllerEntryName));
    m_pfnGetModel =
        reinterpret_cast<GetVortaUpdateModelFn>(::dlsym(m_hEngineModule, kModelEntryName));
    // A copy of the engine that refused to load (another process holds it) answers null.
    if (Controller() == nullptr || Model() == nullptr) {
        return false;
    }
    if (commandLineMode) {
        CCommandLine commandLine;
        commandLine.Parse(argumentText);
        m_nExitCode = commandLine.Run(*this);
    } else if (runWizard) {
        runWizard(*this, *m_hInstanceMutex);
    }
    return false;
}

int CVortaFWUpdateToolUIApp::ExitInstance() {
    if (m_hEngineModule != nullptr) {
        ::dlclose(m_hEngineModule);
        m_hEngineModule = nullptr;
        m_pfnGetController = nullptr;
        m_pfnGetModel = nullptr;
    }
    m_pEngineFile.reset();  // deletes the written library file
    return m_nExitCode;
}

bool CVortaFWUpdateToolUIApp::LoadLanguage(int number) {
    CCarriedFile file(kBlobTypeLanguage, number);
    if (!file.WriteTo(CFilePath::GetInstance().GetPath(L"lang"))) {
        return false;
    }
    CUIStringTable& table = CUIStringTable::GetInstance();
    table.LoadDefaults();
    table.LoadFile(file.GetWrittenPath());
    return true;
}

bool CVortaFWUpdateToolUIApp::LoadLicence(int number) {
    CCarriedFile file(kBlobTypeLanguage, number);
    if (!file.WriteTo(CFilePath::GetInstance().GetPath(L"eula"))) {
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
        m_nExitCode = -1;
        result = false;
    }
    const std::string instanceName = CFilePath::ExecutablePath().stem().string();
    m_hInstanceMutex = std::make_unique<SingleInstanceLock>(instanceName);
    if (!m_hInstanceMutex->Acquired()) {
        if (!commandLineMode) {
            SingleInstanceLock::AskHolderToRaise(instanceName);
        }
        m_nExitCode = -2;
        result = false;
    }
    if (commandLineMode && !result) {
        const fs::path log = CFilePath::GetInstance().GetPath(L"log");
        if (m_nExitCode == -2) {
            CResultLog::Write(log, -2, table.GetText(L"STR-100"));
        } else {
            CResultLog::Write(log, -1, table.GetText(L"MSG-000"));
        }
    }
    return result;
}

bool CVortaFWUpdateToolUIApp::UnpackEngine() {
    m_pEngineFile = std::make_unique<CCarriedFile>(kBlobTypeDll, kBlobEngine);
    return m_pEngineFile->WriteTo(CFilePath::GetInstance().GetPath(L"dll"));
}

CUpdateControllerExport* CVortaFWUpdateToolUIApp::Controller() const {
    return m_pfnGetController != nullptr ? m_pfnGetController() : nullptr;
}

CUpdateModelExport* CVortaFWUpdateToolUIApp::Model() const {
    return m_pfnGetModel != nullptr ? m_pfnGetModel() : nullptr;
}

bool CVortaFWUpdateToolUIApp::ExtractAndLoadImage(const fs::path& path) {
    CCarriedFile image(kBlobTypeUpdateFile, kBlobUpdateImage);
    if (!image.WriteTo(path)) {
        return false;
    }
    CUpdateModelExport* model = Model();
    return model != nullptr && model->LoadUpdateImage(PathText(path).c_str());
}

std::wstring ArgumentText(int argc, char** argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            joined.push_back(' ');
        }
        joined.append(argv[i]);
    }
    std::wstring text = common::DecodeUtf8(joined).value_or(common::BytesToWide(joined));
    const std::size_t start = text.find_first_not_of(L' ');
    return start == std::wstring::npos ? std::wstring() : text.substr(start);
}

}  // namespace talbo::tesk::vorta
