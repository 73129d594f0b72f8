#include "common/DeviceListFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <string_view>
#include <utility>

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

// The operator's reading (ReadOperatorDeviceList) while the bytes arrive. Blanks, and a
// carriage return, wait beside the line until a character follows them, so that trailing
// blanks, however many, never make a line too long; a line is rejected as soon as it is longer
// than a name may be.
class COperatorLineCollector {
public:
    // False once the file is known to be bad.
    bool Add(char byte) {
        if (bomBytes < kBom.size()) {
            if (byte == kBom[bomBytes]) {
                ++bomBytes;
                return true;
            }
            return ReplayBom() && Take(byte);
        }
        return Take(byte);
    }

    // The last line needs no line feed; a carriage return there is an ordinary character.
    bool Finish() { return ReplayBom() && (!carriageReturn || Flush()) && FinishLine(); }

    std::size_t LineNumber() const { return lineNumber; }
    const std::wstring& Line() const { return line; }
    std::vector<NumberedName> TakeNames() { return std::move(names); }

private:
    static constexpr std::string_view kBom = "\xEF\xBB\xBF";

    static bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

    // Bytes at the start that began like a byte order mark but were none are characters.
    bool ReplayBom() {
        const std::size_t matched = std::exchange(bomBytes, kBom.size());
        if (matched == kBom.size()) {
            return true;
        }
        for (std::size_t i = 0; i < matched; ++i) {
            if (!Take(kBom[i])) {
                return false;
            }
        }
        return true;
    }

    bool Take(char byte) {
        if (byte == '\n') {
            // Trailing blanks and one carriage return before the line feed are no part of it.
            blanks.clear();
            carriageReturn = false;
            if (!FinishLine()) {
                return false;
            }
            ++lineNumber;
            return true;
        }
        // A carriage return that no line feed follows is a character of the line.
        if (carriageReturn && !Flush()) {
            return false;
        }
        const auto c = static_cast<wchar_t>(static_cast<unsigned char>(byte));
        if (IsBlank(c)) {
            // Leading blanks go; more waiting blanks than a name may hold need not be kept.
            if (!line.empty() && blanks.size() <= kMaxHostNameLength) {
                blanks.push_back(c);
            }
            return true;
        }
        if (c == L'\r') {
            carriageReturn = true;
            return true;
        }
        if (!Flush()) {
            return false;
        }
        line.push_back(c);
        return line.size() <= kMaxHostNameLength;
    }

    // Puts what waits into the line, as a character follows it: blanks inside a name stay (and
    // make it no host name).
    bool Flush() {
        line += blanks;
        blanks.clear();
        if (std::exchange(carriageReturn, false)) {
            line.push_back(L'\r');
        }
        return line.size() <= kMaxHostNameLength;
    }

    bool FinishLine() {
        if (line.empty()) {
            return true;
        }
        if (HostNameProblem(line)) {
            return false;
        }
        names.push_back({std::move(line), lineNumber});
        line.clear();
        return true;
    }

    std::size_t bomBytes = 0;  // of the byte order mark seen at the start so far
    std::wstring line;
    std::wstring blanks;          // after the line's last character
    bool carriageReturn = false;  // after them
    std::size_t lineNumber = 1;
    std::vector<NumberedName> names;
};

// Feeds the file's bytes to collector.Add until it returns false (then stopped is set);
// errno when the file cannot be opened or read, else 0.
template <typename Collector>
int FeedFile(const std::filesystem::path& path, Collector& collector, bool& stopped) {
    stopped = false;
    if (path.empty()) {
        return ENOENT;
    }
    const CFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return errno;
    }
    std::array<char, std::size_t{64} * 1024> buffer{};
    for (;;) {
        const ssize_t count = ::read(file.Get(), buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;  // unreadable, e.g. a directory
        }
        if (count == 0) {
            return 0;
        }
        for (ssize_t i = 0; i < count; ++i) {
            if (!collector.Add(buffer[static_cast<std::size_t>(i)])) {
                stopped = true;
                return 0;
            }
        }
    }
}

}  // namespace

DeviceList ReadDeviceList(const std::filesystem::path& path) {
    DeviceList list;
    CListLineCollector collector;
    bool stopped = false;
    list.readError = FeedFile(path, collector, stopped);
    if (list.readError != 0) {
        return list;
    }
    if (stopped || !collector.Finish()) {
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

OperatorDeviceList ReadOperatorDeviceList(const std::filesystem::path& path) {
    OperatorDeviceList list;
    COperatorLineCollector collector;
    bool stopped = false;
    list.readError = FeedFile(path, collector, stopped);
    if (list.readError != 0) {
        return list;
    }
    if (stopped || !collector.Finish()) {
        list.badLine = collector.LineNumber();
        list.badName = collector.Line();
        list.problem = HostNameProblem(list.badName).value_or(std::wstring());
        return list;
    }
    list.names = collector.TakeNames();
    return list;
}

}  // namespace talbo::tesk::vorta::common
