#include "common/DeviceListFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>

#include "common/HostName.h"
#include "common/Utf8.h"

namespace talbo::tesk::vorta::common {

namespace {

class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) noexcept : fd(fd) {}
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    ~CFileDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int Get() const noexcept { return fd; }

private:
    int fd;
};

// Collects lines while the bytes arrive, so that a huge file without line ends is rejected
// as soon as its first line is too long instead of being held in memory.
class CListLineCollector {
public:
    // False once the file is known to be bad.
    bool Add(char byte) {
        if (byte != '\n') {
            line.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
            // One more than a name may hold: room for the carriage return before the LF.
            return line.size() <= kMaxHostNameLength + 1;
        }
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        if (!FinishLine()) {
            return false;
        }
        ++lineNumber;
        return true;
    }

    // The last line needs no line feed; a carriage return there is an ordinary character.
    bool Finish() { return FinishLine(); }

    std::size_t LineNumber() const { return lineNumber; }
    std::vector<std::wstring> TakeNames() { return std::move(names); }

private:
    bool FinishLine() {
        if (line.empty()) {
            return true;
        }
        if (!IsValidHostName(line)) {
            return false;
        }
        names.push_back(std::move(line));
        line.clear();
        return true;
    }

    std::wstring line;
    std::size_t lineNumber = 1;
    std::vector<std::wstring> names;
};

}  // namespace

DeviceList ReadDeviceList(const std::filesystem::path& path) {
    DeviceList list;
    if (path.empty()) {
        list.readError = ENOENT;
        return list;
    }
    const CFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        list.readError = errno;
        return list;
    }

    CListLineCollector collector;
    std::array<char, std::size_t{64} * 1024> buffer{};
    for (;;) {
        const ssize_t count = ::read(file.Get(), buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            list.readError = errno;  // unreadable, e.g. a directory
            return list;
        }
        if (count == 0) {
            break;
        }
        for (ssize_t i = 0; i < count; ++i) {
            if (!collector.Add(buffer[static_cast<std::size_t>(i)])) {
                list.badLine = collector.LineNumber();
                return list;
            }
        }
    }
    if (!collector.Finish()) {
        list.badLine = collector.LineNumber();
        return list;
    }
    list.names = collector.TakeNames();
    return list;
}

std::vector<std::wstring> ReadDeviceListFile(const std::wstring& path) {
    const std::optional<std::string> narrowPath = EncodeUtf8(path);
    if (!narrowPath) {
        return {};
    }
    DeviceList list = ReadDeviceList(*narrowPath);
    return list.Accepted() ? std::move(list.names) : std::vector<std::wstring>();
}

}  // namespace talbo::tesk::vorta::common
