#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace talbo::tesk::vorta {

// The private temporary folder of one run ("VorXXXXXX" under $TMPDIR or /tmp, mode 0700) with
// its run lock: a file inside that the run holds locked (flock) for as long as it lives. A run
// that was killed leaves a folder whose lock nobody holds; a later start removes such folders.
class RunFolder {
public:
    static constexpr const char* kPrefix = "Vor";
    static constexpr const char* kLockName = "run.lock";

    // Makes the folder under the first of bases that allows it and takes its run lock. On
    // failure Path() is empty and Error() holds the errno value of the last attempt.
    explicit RunFolder(const std::vector<std::filesystem::path>& bases);
    // Removes the lock file and the folder when nothing else is left in it. Otherwise both stay
    // and the lock is released, so a later start removes the folder.
    ~RunFolder();

    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    int Error() const { return m_nError; }

    // Where run folders are made: $TMPDIR when set, then /tmp.
    static std::vector<std::filesystem::path> TemporaryBases();

    // Removes the run folders directly under base that belong to this user and whose run lock
    // no process holds, with the files in them. Never follows a symbolic link; leaves alone
    // folders of other users, folders without a run lock and folders holding a subfolder.
    // Returns how many folders it removed.
    static int RemoveAbandoned(const std::filesystem::path& base);

private:
    std::filesystem::path m_path;
    int m_nLockFd = -1;
    int m_nError = 0;
};

}  // namespace talbo::tesk::vorta
