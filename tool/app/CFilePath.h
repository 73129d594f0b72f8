#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "tool/app/RunFolder.h"

namespace talbo::tesk::vorta {

// The tool's private temporary directory and the full paths of the files it writes. One
// instance per process, made on first use; the directory is removed when the process ends.
// The directory is a RunFolder: while the process lives it holds the folder's run lock.
class CFilePath {
public:
    static CFilePath& GetInstance();
    virtual ~CFilePath();

    CFilePath(const CFilePath&) = delete;
    CFilePath& operator=(const CFilePath&) = delete;

    // The full path for "log", "dll", "updateImage", "lang" or "eula"; an empty path for any
    // other name.
    std::filesystem::path GetPath(const std::wstring& name);
    // The private temporary directory (empty when it could not be made).
    const std::filesystem::path& GetTempDirectory() const { return runFolder.Path(); }
    // Why the temporary directory could not be made (an errno value), 0 when it was.
    int TempDirectoryError() const { return runFolder.Error(); }

    // Where the result log goes: beside the executable when the tool runs from a folder of its
    // own (a build folder, an unpacked copy) that it may write; under
    // $XDG_STATE_HOME/VortaFWUpdateTool (default ~/.local/state/...) when that folder is not
    // writable and always when the executable is installed in a system prefix (/usr,
    // /usr/local, /opt), for every user, root included.
    static std::filesystem::path ResultLogPath(const std::filesystem::path& executable);
    // Whether the folder lies under /usr or /opt, where installed programs live.
    static bool InSystemPrefix(const std::filesystem::path& folder);
    // $XDG_STATE_HOME, else ~/.local/state of $HOME or the user's home; empty when neither.
    static std::filesystem::path StateFolder();
    // The running executable (from /proc/self/exe).
    static std::filesystem::path ExecutablePath();

private:
    CFilePath();

    RunFolder runFolder;
    std::map<std::wstring, std::filesystem::path> paths;
};

}  // namespace talbo::tesk::vorta
