#include "tool/app/CResultLog.h"

#include <cstdio>
#include <ctime>
#include <cwchar>
#include <mutex>

#include "common/IniFile.h"

namespace talbo::tesk::vorta {

namespace {

std::mutex& LogLock() {
    static std::mutex lock;
    return lock;
}

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

void CResultLog::Write(const std::filesystem::path& logPath, int resultCode,
                       const std::wstring& detail) {
    WriteDated(logPath, resultCode, detail, Today());
}

void CResultLog::WriteDated(const std::filesystem::path& logPath, int resultCode,
                            const std::wstring& detail, const std::wstring& today) {
    const std::lock_guard<std::mutex> guard(LogLock());
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
    wchar_t digits[16];
    std::swprintf(digits, 16, L"%03u", number);

    doc.Set(kLastPos, L"DATE", today);
    doc.Set(kLastPos, L"NO", digits);
    const std::wstring section = today + L"-" + digits;
    doc.Set(section, L"Result", std::to_wstring(resultCode));
    doc.Set(section, L"Detail", detail);
    file->Save();
}

}  // namespace talbo::tesk::vorta
