#include "imagegen/ImageInspection.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/IniDocument.h"
#include "common/Utf8.h"

namespace talbo::tesk::vorta::imagegen {

namespace {

constexpr unsigned char kSeparator = 0xFF;
constexpr std::string_view kMarker = "OKRIM TALBO TalboNet Data";
constexpr std::string_view kLine1 = "RCX";
constexpr std::string_view kLine2 = "OKRIM TALBO TalboNet Form";
// The engine reads no more of a file as its header, and its values no longer than this.
constexpr std::size_t kHeaderLimit = std::size_t{64} * 1024;
constexpr std::size_t kVersionLimit = 255;
constexpr std::size_t kNameLimit = 254;
constexpr std::size_t kChunk = std::size_t{1} << 20;

class Fd {
public:
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

// Reads exactly size bytes at offset; false at the end of the file or on an error.
bool ReadAt(int fd, std::uint64_t offset, char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A header value read as the engine reads it: an optional sign and the leading decimal digits,
// wrapping in 32 bits; 0 when absent or not a number.
std::int32_t HeaderInt(const std::optional<std::wstring>& text) {
    if (!text) {
        return 0;
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < text->size() && ((*text)[i] == L'+' || (*text)[i] == L'-')) {
        negative = (*text)[i] == L'-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < text->size() && (*text)[i] >= L'0' && (*text)[i] <= L'9'; ++i) {
        value = value * 10U + static_cast<std::uint32_t>((*text)[i] - L'0');
    }
    return static_cast<std::int32_t>(negative ? 0U - value : value);
}

// Header text holds one character per byte; back to those bytes.
std::string Narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        out.push_back(static_cast<char>(static_cast<unsigned char>(c)));
    }
    return out;
}

// The line from pos on, without its CR LF or LF; empty text past the end.
std::string NextLine(std::string_view text, std::size_t& pos) {
    if (pos >= text.size()) {
        return {};
    }
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    std::string line(text.substr(pos, end - pos));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    pos = end + 1;
    return line;
}

// The steps of the header, with faults for what the engine would refuse. Whether every step
// that was read has its number and block sizes, so that the blocks can be followed.
bool ReadHeader(std::string_view header, ImageInspection& result) {
    std::size_t pos = 0;
    if (NextLine(header, pos) != kLine1) {
        result.faults.push_back("line 1 of the header is not \"RCX\"");
    }
    if (NextLine(header, pos) != kLine2) {
        result.faults.push_back("line 2 of the header is not \"" + std::string(kLine2) + "\"");
    }
    const common::IniDocument doc = common::IniDocument::Parse(common::BytesToWide(header));
    result.version = Narrow(doc.Get(L"E", L"7").value_or(L"").substr(0, kVersionLimit));
    if (result.version.empty()) {
        result.faults.push_back("the header names no version ([E] 7)");
    }
    bool complete = true;
    for (int n = 1;; ++n) {
        const std::wstring key = L"7." + std::to_wstring(n);
        InspectedStep step;
        step.name = Narrow(doc.Get(L"E", key).value_or(L"").substr(0, kNameLimit));
        if (step.name.empty()) {
            if (n == 1) {
                result.faults.push_back("the header names no step ([E] 7.1)");
                complete = false;
            }
            break;
        }
        const std::optional<std::wstring> number = doc.Get(L"E", key + L".0");
        step.number = Narrow(number.value_or(L""));
        const std::string which = "step " + std::to_string(n) + " (" + step.name + ")";
        if (HeaderInt(number) == 0) {
            result.faults.push_back(which + " has no non-zero number ([E] " + Narrow(key) + ".0)");
            result.steps.push_back(std::move(step));
            complete = false;
            break;
        }
        bool negative = false;
        for (int m = 1;; ++m) {
            const std::int32_t size = HeaderInt(doc.Get(L"E", key + L"." + std::to_wstring(m)));
            if (size == 0) {
                break;
            }
            step.sizes.push_back(size);
            if (size < 0) {
                result.faults.push_back(which + " block " + std::to_string(m) +
                                        " has a negative size");
                negative = true;
                break;
            }
        }
        if (step.sizes.empty()) {
            result.faults.push_back(which + " has no block sizes ([E] " + Narrow(key) + ".1)");
        }
        complete = !negative && !step.sizes.empty();
        result.steps.push_back(std::move(step));
        if (!complete) {
            break;  // the engine stops reading here, so the blocks cannot be followed
        }
    }
    const std::string total = Narrow(doc.Get(L"Z_1", L"5").value_or(L""));
    if (!total.empty() && total.size() <= 19 &&
        std::all_of(total.begin(), total.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        result.statedTotal = std::stoull(total);
    }
    return complete;
}

// Follows the blocks from the separator on: each must be followed by the marker, and nothing
// may follow the last one.
void CheckFraming(int fd, ImageInspection& result) {
    std::uint64_t offset = *result.separator + 1;
    std::array<char, kMarker.size()> marker{};
    for (std::size_t n = 0; n < result.steps.size(); ++n) {
        const InspectedStep& step = result.steps[n];
        for (std::size_t m = 0; m < step.sizes.size(); ++m) {
            ++result.blockCount;
            const auto size = static_cast<std::uint64_t>(step.sizes[m]);
            result.blockTotal += size;
            const std::string which = "block " + std::to_string(result.blockCount) + " (" +
                                      step.name + (m == 0 ? "" : std::to_string(m)) + ")";
            if (offset + size > result.fileSize) {
                result.faults.push_back("the file ends inside " + which);
                return;
            }
            if (offset + size + kMarker.size() > result.fileSize) {
                result.faults.push_back("the file ends before the block marker of " + which);
                return;
            }
            if (!ReadAt(fd, offset + size, marker.data(), marker.size()) ||
                std::string_view(marker.data(), marker.size()) != kMarker) {
                result.faults.push_back(which + " is not followed by the block marker");
            }
            offset += size + kMarker.size();
        }
    }
    if (result.fileSize > offset) {
        const std::uint64_t extra = result.fileSize - offset;
        result.faults.push_back(std::to_string(extra) +
                                (extra == 1 ? " byte follows" : " bytes follow") +
                                " the last block marker");
    }
}

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// The SHA-256 of the whole file in hexadecimal; empty text when it cannot be computed.
std::string FileSha256(int fd, std::string& error, const std::string& path) {
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return {};
    }
    std::vector<char> buffer(kChunk);
    for (std::uint64_t offset = 0;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = SystemError("cannot read", path);
            return {};
        }
        if (n == 0) {
            break;
        }
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n)) != 1) {
            return {};
        }
        offset += static_cast<std::uint64_t>(n);
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) {
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex.push_back(kDigits[digest[i] >> 4U]);
        hex.push_back(kDigits[digest[i] & 0x0FU]);
    }
    return hex;
}

}  // namespace

std::string InspectImage(const std::string& path, ImageInspection& result) {
    result = ImageInspection();
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        return SystemError("cannot open", path);
    }
    if (!S_ISREG(info.st_mode)) {
        return "\"" + path + "\" is not a file";
    }
    result.fileSize = static_cast<std::uint64_t>(info.st_size);

    // The separator is the first 0xFF of the whole file, wherever it lies.
    std::vector<char> buffer(kChunk);
    for (std::uint64_t offset = 0; !result.separator && offset < result.fileSize;) {
        const ssize_t n =
            ::pread(fd.get(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return SystemError("cannot read", path);
        }
        const auto end = buffer.begin() + n;
        const auto found = std::find(buffer.begin(), end, static_cast<char>(kSeparator));
        if (found != end) {
            result.separator = offset + static_cast<std::uint64_t>(found - buffer.begin());
        }
        offset += static_cast<std::uint64_t>(n);
    }
    const std::uint64_t headerEnd = result.separator.value_or(result.fileSize);
    std::string header(static_cast<std::size_t>(std::min<std::uint64_t>(headerEnd, kHeaderLimit)),
                       '\0');
    if (!ReadAt(fd.get(), 0, header.data(), header.size())) {
        return SystemError("cannot read", path);
    }
    const bool stepsRead = ReadHeader(header, result);
    if (!result.separator) {
        result.faults.push_back("no separator byte 0xFF ends the header");
    } else if (*result.separator > kHeaderLimit) {
        result.faults.push_back("the header is longer than the " + std::to_string(kHeaderLimit) +
                                " bytes the engine reads");
    }
    if (result.separator && stepsRead) {
        CheckFraming(fd.get(), result);
        if (!result.statedTotal) {
            result.faults.push_back("the header states no total size ([Z_1] 5)");
        } else if (*result.statedTotal != result.blockTotal) {
            result.faults.push_back("the header states a total of " +
                                    std::to_string(*result.statedTotal) +
                                    " bytes, the blocks hold " + std::to_string(result.blockTotal));
        }
    }
    std::string error;
    result.sha256 = FileSha256(fd.get(), error, path);
    if (result.sha256.empty()) {
        return error.empty() ? "cannot compute the SHA-256 of \"" + path + "\"" : error;
    }
    return {};
}

std::string FormatInspection(const std::string& path, const ImageInspection& inspection) {
    std::string text = "image: " + path + "\n";
    text += "size: " + std::to_string(inspection.fileSize) + " bytes\n";
    if (inspection.separator) {
        text += "header: " + std::to_string(*inspection.separator) +
                " bytes, then the separator byte\n";
    }
    text += "version: " + inspection.version + "\n";
    text += "steps: " + std::to_string(inspection.steps.size()) + "\n";
    for (std::size_t n = 0; n < inspection.steps.size(); ++n) {
        const InspectedStep& step = inspection.steps[n];
        text += "step " + std::to_string(n + 1) + ": " + step.name + ", number " + step.number +
                ", block sizes";
        for (const std::int64_t size : step.sizes) {
            text += " " + std::to_string(size);
        }
        text += "\n";
    }
    text += "blocks: " + std::to_string(inspection.blockCount) + ", " +
            std::to_string(inspection.blockTotal) + " bytes (header states " +
            (inspection.statedTotal ? std::to_string(*inspection.statedTotal) : "none") + ")\n";
    if (inspection.faults.empty()) {
        text += "framing: ok\n";
    } else {
        text += "framing: " + std::to_string(inspection.faults.size()) +
                (inspection.faults.size() == 1 ? " fault\n" : " faults\n");
        for (const std::string& fault : inspection.faults) {
            text += "fault: " + fault + "\n";
        }
    }
    text += "sha256: " + inspection.sha256 + "\n";
    return text;
}

}  // namespace talbo::tesk::vorta::imagegen
