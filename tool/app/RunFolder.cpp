#include "tool/app/RunFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace talbo::tesk::vorta {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRandomPartLength = 6;  // what mkdtemp puts in place of "XXXXXX"

// A descriptor closed when the scope ends.
class Fd {
public:
    explicit Fd(int fd) : m_nFd(fd) {}
    ~Fd() {
        if (m_nFd >= 0) {
            ::close(m_nFd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_nFd; }
    bool Valid() const { return m_nFd >= 0; }

private:
    int m_nFd;
};

// The names in a folder other than "." and "..", read through a descriptor of it; empty when
// it cannot be read.
std::vector<std::string> Entries(int dirFd) {
    std::vector<std::string> names;
    const int copy = ::dup(dirFd);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (dir == nullptr) {
        if (copy >= 0) {
            ::close(copy);
        }
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return names;
}

bool LooksLikeRunFolder(const std::string& name) {
    const std::string prefix = RunFolder::kPrefix;
    return name.size() == prefix.size() + kRandomPartLength &&
           name.compare(0, prefix.size(), prefix) == 0;
}

// Removes one folder of base when it is an abandoned run folder of this user.
bool RemoveIfAbandoned(int baseFd, const std::string& name) {
    struct stat folder {};
    if (::fstatat(baseFd, name.c_str(), &folder, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(folder.st_mode) || folder.st_uid != ::geteuid()) {
        return false;
    }
    const Fd dirFd(::openat(baseFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened {};
    if (!dirFd.Valid() || ::fstat(dirFd.Get(), &opened) != 0 || opened.st_dev != folder.st_dev ||
        opened.st_ino != folder.st_ino) {
        return false;  // replaced between the two looks
    }
    const Fd lockFd(::openat(dirFd.Get(), RunFolder::kLockName,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat lock {};
    if (!lockFd.Valid() || ::fstat(lockFd.Get(), &lock) != 0 || !S_ISREG(lock.st_mode) ||
        lock.st_uid != ::geteuid() || ::flock(lockFd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return false;  // not a run folder of ours, or its run is alive
    }
    const std::vector<std::string> names = Entries(dirFd.Get());
    for (const std::string& entry : names) {
        struct stat st {};
        if (::fstatat(dirFd.Get(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            S_ISDIR(st.st_mode)) {
            return false;  // runs make no subfolders: this is not only ours to remove
        }
    }
    // Unlinking a symbolic link removes the link, never what it points to. The lock goes last,
    // so that a folder without it is never one this removal has half emptied.
    for (const std::string& entry : names) {
        if (entry != RunFolder::kLockName) {
            ::unlinkat(dirFd.Get(), entry.c_str(), 0);
        }
    }
    ::unlinkat(dirFd.Get(), RunFolder::kLockName, 0);
    return ::unlinkat(baseFd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

RunFolder::RunFolder(const std::vector<fs::path>& bases) {
    for (const fs::path& base : bases) {
        std::string pattern = (base / (std::string(kPrefix) + "XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            m_nError = errno;
            continue;
        }
        // The lock is taken under a passing name and then renamed into place, so a folder
        // that shows its lock file always has it held while the run lives.
        const fs::path folder(pattern);
        const fs::path passing = folder / (std::string(kLockName) + ".new");
        const int fd =
            ::open(passing.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::rename(passing.c_str(), (folder / kLockName).c_str()) == 0) {
            m_path = folder;
            m_nLockFd = fd;
            m_nError = 0;
            return;
        }
        m_nError = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(passing.c_str());
        ::rmdir(folder.c_str());
    }
}

RunFolder::~RunFolder() {
    if (m_path.empty()) {
        return;
    }
    const std::vector<std::string> names = [this] {
        const Fd dirFd(::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        return dirFd.Valid() ? Entries(dirFd.Get()) : std::vector<std::string>{};
    }();
    if (names.size() == 1 && names.front() == kLockName) {
        ::unlink((m_path / kLockName).c_str());
        ::rmdir(m_path.c_str());
    }
    ::close(m_nLockFd);
}

std::vector<fs::path> RunFolder::TemporaryBases() {
    std::vector<fs::path> bases;
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
        bases.emplace_back(tmp);
    }
    if (bases.empty() || bases.front() != "/tmp") {
        bases.emplace_back("/tmp");
    }
    return bases;
}

int RunFolder::RemoveAbandoned(const fs::path& base) {
    const Fd baseFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!baseFd.Valid()) {
        return 0;
    }
    int removed = 0;
    for (const std::string& name : Entries(baseFd.Get())) {
        if (LooksLikeRunFolder(name) && RemoveIfAbandoned(baseFd.Get(), name)) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace talbo::tesk::vorta
