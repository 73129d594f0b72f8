#include "engine/model/CDeviceTrace.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "common/Utf8.h"
#include "engine/interface/ResultCodes.h"
#include "engine/model/CUpdateImagePart.h"
#include "engine/model/DecimalText.h"

namespace talbo::tesk::vorta {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kTraceFormat = 1;
constexpr std::size_t kMaxFileNameLength = 254;

// UTC, RFC 3339 with milliseconds: "2024-05-01T09:30:12.345Z".
std::string TimeText(std::chrono::system_clock::time_point when) {
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(sinceEpoch.count() / 1000);
    const int millis = static_cast<int>(sinceEpoch.count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];  // room for any year the type can hold, not only four digits
    // The buffer holds any year, so the text is never cut.
    static_cast<void>(std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                                    utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                    utc.tm_min, utc.tm_sec, millis));
    return text;
}

// Texts of the engine are wide; the trace is UTF-8. A text that cannot be encoded (a lone
// surrogate) is written as ASCII with '?' rather than lost.
std::string Utf8(std::wstring_view text) {
    std::optional<std::string> bytes = common::EncodeUtf8(text);
    return bytes ? std::move(*bytes) : common::AsciiToNarrow(text);
}

Json Line(const char* event, const std::string& host,
          std::chrono::system_clock::time_point when = std::chrono::system_clock::now()) {
    Json line;
    line["time"] = TimeText(when);
    line["event"] = event;
    line["host"] = host;
    return line;
}

// A part number as a JSON number when it is a plain decimal, else as the text it is.
Json PartNumber(const std::string& number) {
    if (number.empty()) {
        return nullptr;
    }
    if (const std::optional<std::uint32_t> value = ReadPlainDecimal(number, 999999999)) {
        return *value;
    }
    return number;
}

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                        reinterpret_cast<const unsigned char*>(bytes.data()),
                                        static_cast<int>(bytes.size()));
    out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return out;
}

// The name a result code is reported under when the job noted no name of that code.
const wchar_t* FirstNameOf(int progress) {
    for (const SResultName& entry : kResultNames) {
        if (ToInt(entry.code) == progress) {
            return entry.name;
        }
    }
    return nullptr;
}

}  // namespace

bool IsTraceFileName(std::wstring_view hostName) {
    if (hostName.empty() || hostName.size() > kMaxFileNameLength || hostName.front() == L'.') {
        return false;
    }
    for (const wchar_t c : hostName) {
        const bool allowed = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                             (c >= L'0' && c <= L'9') || c == L'.' || c == L'-';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

std::shared_ptr<CDeviceTrace> CDeviceTrace::Open(int directory, const std::wstring& hostName,
                                                 const SJob& job) {
    if (directory < 0 || !IsTraceFileName(hostName)) {
        return nullptr;
    }
    const std::string host = common::AsciiToNarrow(hostName);
    const std::string fileName = host + ".jsonl";
    // No symbolic link is followed, and a FIFO planted under the name cannot block the job.
    const int file = ::openat(directory, fileName.c_str(),
                              O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                              S_IRUSR | S_IWUSR);
    if (file < 0) {
        return nullptr;
    }
    struct stat status {};
    // A file of someone else's, or one with a second name (a hard link to a file of this
    // user elsewhere), is never appended to.
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        status.st_nlink != 1 || ((status.st_mode & 077) != 0 && ::fchmod(file, 0600) != 0)) {
        ::close(file);
        return nullptr;
    }
    std::shared_ptr<CDeviceTrace> trace(new CDeviceTrace(file, host));
    Json line = Line("job", host);
    line["format"] = kTraceFormat;
    line["job"] = job.kind;
    line["pid"] = static_cast<long long>(::getpid());
    if (!job.imageVersion.empty()) {
        line["image_version"] = job.imageVersion;
    }
    const std::lock_guard guard(trace->lock);
    trace->WriteLocked(line.dump());
    return trace;
}

CDeviceTrace::CDeviceTrace(int file, std::string hostName)
    : file(file), hostName(std::move(hostName)) {}

CDeviceTrace::~CDeviceTrace() {
    if (file >= 0) {
        ::close(file);
    }
}

void CDeviceTrace::WriteLocked(const std::string& line) noexcept {
    if (file < 0) {
        return;
    }
    try {
        const std::string whole = line + "\n";
        std::size_t done = 0;
        // One write for the line; only a write the kernel cuts short (a full disk) takes more.
        while (done < whole.size()) {
            const ssize_t written = ::write(file, whole.data() + done, whole.size() - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            done += static_cast<std::size_t>(written);
        }
    } catch (...) {
        // No memory for the line: it is left out.
    }
}

void CDeviceTrace::OnExchange(const SExchangeRecord& record) noexcept {
    try {
        const std::lock_guard guard(lock);
        Json line = Line("exchange", hostName, record.started);
        line["request"] = record.priming ? std::string("priming") : request;
        if (record.priming && !request.empty()) {
            line["primes"] = request;
        }
        if (!partName.empty()) {
            line["part"] = partName;
            line["part_number"] = PartNumber(partNumber);
        }
        if (probe > 0) {
            line["probe"] = probe;
        }
        line["status"] = record.status ? Json(*record.status) : Json(nullptr);
        line["responses"] = record.statuses;
        line["duration_ms"] =
            std::floor(static_cast<double>(record.duration.count()) / 100.0) / 10.0;
        line["request_bytes"] = record.requestBytes;
        line["bytes_sent"] = record.bytesSent;
        line["resends"] = record.resends;
        if (record.curlCode != 0) {
            line["curl_code"] = record.curlCode;
            line["error"] = record.error;
        }
        // The JSON text must be UTF-8; a body that is not (or whose excerpt cuts a character)
        // is kept byte for byte in base64, so that a replay serves exactly what came.
        if (common::DecodeUtf8(record.bodyExcerpt)) {
            line["answer"] = record.bodyExcerpt;
        } else {
            line["answer_base64"] = Base64(record.bodyExcerpt);
        }
        line["answer_bytes"] = record.bodyBytes;
        WriteLocked(line.dump());
    } catch (...) {
        // See WriteLocked: the line is left out.
    }
}

void CDeviceTrace::SetRequest(std::wstring_view type, const CUpdateImagePart* part) noexcept {
    try {
        const std::lock_guard guard(lock);
        request = Utf8(type);
        partName = part != nullptr ? Utf8(part->GetName()) : std::string();
        partNumber = part != nullptr ? Utf8(part->GetNumber()) : std::string();
    } catch (...) {
        request.clear();
        partName.clear();
        partNumber.clear();
    }
}

void CDeviceTrace::BeginRestartWait(unsigned firstWaitMs, unsigned retryWaitMs,
                                    unsigned retries) noexcept {
    try {
        const std::lock_guard guard(lock);
        probes = 0;
        Json line = Line("restart-wait", hostName);
        // The request after which the device restarts.
        if (!request.empty()) {
            line["after"] = request;
        }
        if (!partName.empty()) {
            line["part"] = partName;
            line["part_number"] = PartNumber(partNumber);
        }
        line["first_wait_ms"] = firstWaitMs;
        line["retry_wait_ms"] = retryWaitMs;
        line["retries"] = retries;
        WriteLocked(line.dump());
    } catch (...) {
    }
}

void CDeviceTrace::BeginProbe(unsigned waitedMs) noexcept {
    try {
        const std::lock_guard guard(lock);
        probe = ++probes;
        Json line = Line("probe", hostName);
        line["probe"] = probe;
        line["waited_ms"] = waitedMs;
        WriteLocked(line.dump());
    } catch (...) {
    }
}

void CDeviceTrace::EndProbe(bool answered, const std::wstring& deviceStatus) noexcept {
    try {
        const std::lock_guard guard(lock);
        Json line = Line("probe-end", hostName);
        line["probe"] = probe;
        line["answered"] = answered;
        line["device_status"] = Utf8(deviceStatus);
        probe = 0;
        WriteLocked(line.dump());
    } catch (...) {
    }
}

void CDeviceTrace::EndRestartWait(bool answered, const std::wstring& deviceStatus) noexcept {
    try {
        const std::lock_guard guard(lock);
        Json line = Line("restart-end", hostName);
        line["answered"] = answered;
        line["probes"] = probes;
        line["device_status"] = Utf8(deviceStatus);
        probes = 0;
        WriteLocked(line.dump());
    } catch (...) {
    }
}

void CDeviceTrace::NoteResult(const std::wstring& name) noexcept {
    if (!ResultCodeOf(name)) {
        return;  // a row of the plan or a step of the test, no result
    }
    try {
        const std::lock_guard guard(lock);
        lastResult = name;
    } catch (...) {
    }
}

void CDeviceTrace::End(int progress, bool jobStopped) noexcept {
    try {
        const std::lock_guard guard(lock);
        Json line = Line("end", hostName);
        line["progress"] = progress;
        const std::optional<EResultCode> noted = ResultCodeOf(lastResult);
        if (noted && ToInt(*noted) == progress) {
            line["result"] = Utf8(lastResult);
        } else if (const wchar_t* name = FirstNameOf(progress)) {
            line["result"] = Utf8(name);
        } else {
            line["result"] = nullptr;  // the run did not get to a result
        }
        if (jobStopped) {
            line["job_stopped"] = true;
        }
        WriteLocked(line.dump());
        ::close(file);
        file = -1;
    } catch (...) {
    }
}

}  // namespace talbo::tesk::vorta
