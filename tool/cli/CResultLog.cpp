#include "tool/cli/CResultLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <mutex>

#include "common/IniDocument.h"
#include "common/IniFile.h"

namespace talbo::tesk::vorta {

namespace {

std::mutex& LogLock() {
    static std::mutex lock;
    return lock;
}

// Holds an advisory lock on the lock file beside the log for as long as it lives, so that
// writers in other processes never read the log while one of them is replacing it.
class LogFileLock {
public:
    explicit LogFileLock(const std::filesystem::path& logPath) {
        const std::filesystem::path lockPath = CResultLog::LockPath(logPath);
        fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        while (fd >= 0 && ::flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                // Without the lock a record may still be written; losing the lock must not
                // lose the record of this run.
                ::close(fd);
                fd = -1;
            }
        }
    }
    ~LogFileLock() {
        if (fd >= 0) {
            ::close(fd);  // releases the lock
        }
    }
    LogFileLock(const LogFileLock&) = delete;
    LogFileLock& operator=(const LogFileLock&) = delete;

private:
    int fd = -1;
};

constexpr const wchar_t* kLastPos = L"LAST_POS";
constexpr unsigned kNumbersPerDay = 1000;

// The leading decimal integer of a text, 0 when there is none (like a profile integer read).
long LeadingInteger(const std::wstring& text) {
    return std::wcstol(text.c_str(), nullptr, 10);
}

}  // namespace

std::wstring CResultLog::Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) {
        return {};
    }
    wchar_t buffer[128];
    const std::size_t n = std::wcsftime(buffer, 128, L"%Y/%m/%d", &local);
    return std::wstring(buffer, n);
}

std::filesystem::path CResultLog::LockPath(const std::filesystem::path& logPath) {
    std::filesystem::path lock = logPath;
    lock += ".lock";
    return lock;
}

CResultLog::ExtraKeys CResultLog::WithImageDigest(std::string_view sha256Hex, ExtraKeys extra) {
    extra.imageDigest.assign(sha256Hex.begin(), sha256Hex.end());
    return extra;
}

std::wstring CResultLog::DeviceKey(const std::wstring& host) {
    const bool taken = std::any_of(
        kRunKeys.begin(), kRunKeys.end(),
        [&host](std::wstring_view key) { return common::EqualsAsciiNoCase(host, key); });
    return taken ? host + L"." : host;
}

void CResultLog::Write(const std::filesystem::path& logPath, int resultCode,
                       const std::wstring& detail, const ExtraKeys& extra) {
    WriteDated(logPath, resultCode, detail, Today(), extra);
}

void CResultLog::WriteDated(const std::filesystem::path& logPath, int resultCode,
                            const std::wstring& detail, const std::wstring& today,
                            const ExtraKeys& extra) {
    const std::lock_guard<std::mutex> guard(LogLock());
    const LogFileLock fileLock(logPath);
    auto file = common::IniFile::LoadOrEmpty(logPath);
    if (!file) {
        return;  // an unreadable log is not reported and does not change the exit code
    }
    common::IniDocument& doc = file->Document();
    const std::wstring storedDate = doc.Get(kLastPos, L"DATE").value_or(today);
    const auto storedNo = doc.Get(kLastPos, L"NO");
    const long stored = storedNo ? LeadingInteger(*storedNo) : kNumbersPerDay - 1;

    unsigned number = 0;
    if (storedDate == today && static_cast<unsigned long>(stored) < kNumbersPerDay - 1) {
        number = static_cast<unsigned>(stored) + 1;
    }
    std::wstring digits = std::to_wstring(number);
    digits.insert(0, digits.size() < 3 ? 3 - digits.size() : 0, L'0');

    doc.Set(kLastPos, L"DATE", today);
    doc.Set(kLastPos, L"NO", digits);
    const std::wstring section = today + L"-" + digits;
    std::vector<std::pair<std::wstring, std::wstring>> pairs = {
        {std::wstring(kResultKey), std::to_wstring(resultCode)},
        {std::wstring(kDetailKey), detail}};
    if (!extra.imageDigest.empty()) {
        pairs.emplace_back(kImageDigestKey, extra.imageDigest);
    }
    for (const auto& [host, value] : extra) {
        pairs.emplace_back(DeviceKey(host), value);
    }
    doc.ReplaceSection(section, pairs);
    file->Save();
}

}  // namespace talbo::tesk::vorta
