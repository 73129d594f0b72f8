#include "tool/app/CFilePath.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>

#include <cstdlib>
#include <system_error>

namespace talbo::tesk::vorta {

namespace fs = std::filesystem;

CFilePath& CFilePath::GetInstance() {
    static CFilePath instance;
    return instance;
}

// The run folder is made with mode 0700, so no other user can place or swap a file in it before
// the engine library is loaded from there.
CFilePath::CFilePath() : runFolder(RunFolder::TemporaryBases()) {
    const fs::path exe = ExecutablePath();
    paths[L"log"] = ResultLogPath(exe);
    if (const fs::path& tempDirectory = runFolder.Path(); !tempDirectory.empty()) {
        paths[L"dll"] = tempDirectory / "VortaFWUpdateModule.so";
        paths[L"updateImage"] = tempDirectory / "updateimages.rcx";
        paths[L"lang"] = tempDirectory / "ui.lng";
        paths[L"eula"] = tempDirectory / "eula.txt";
    }
}

// The run folder removes itself, and its run lock with it, when nothing else is left in it, as
// after a normal run.
CFilePath::~CFilePath() = default;

fs::path CFilePath::GetPath(const std::wstring& name) {
    const auto it = paths.find(name);
    return it == paths.end() ? fs::path() : it->second;
}

fs::path CFilePath::ExecutablePath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe;
}

bool CFilePath::InSystemPrefix(const fs::path& folder) {
    const fs::path normal = folder.lexically_normal();
    for (const char* text : {"/usr", "/opt"}) {
        const fs::path prefix(text);
        const auto [end, unused] =
            std::mismatch(prefix.begin(), prefix.end(), normal.begin(), normal.end());
        if (end == prefix.end()) {
            return true;
        }
    }
    return false;
}

fs::path CFilePath::StateFolder() {
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home != '/') {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr || *home != '/') {
        return {};
    }
    return fs::path(home) / ".local" / "state";
}

fs::path CFilePath::ResultLogPath(const fs::path& executable) {
    const fs::path folder = executable.parent_path();
    const fs::path name = executable.empty()
                              ? fs::path("VortaFWUpdateTool.log")
                              : fs::path(executable.filename()).replace_extension(".log");
    const bool installed = InSystemPrefix(folder);
    if (!installed && !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0) {
        return folder / name;
    }
    const fs::path state = StateFolder();
    if (state.empty()) {
        // Nowhere better to go; a system folder is never written to.
        return installed ? fs::temp_directory_path() / name : folder / name;
    }
    const fs::path dir = state / "VortaFWUpdateTool";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir / name;
}

}  // namespace talbo::tesk::vorta
