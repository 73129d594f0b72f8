#include "engine/protocol/CHttpConnection.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "common/Utf8.h"
#include "engine/protocol/CExchangeObserver.h"
#include "engine/protocol/CRequestBuilder.h"

namespace talbo::tesk::vorta {

namespace {

CURL* Curl(void* handle) {
    return static_cast<CURL*>(handle);
}

std::size_t ReadBody(char* buffer, std::size_t size, std::size_t count, void* context) {
    auto* exchange = static_cast<CHttpExchange*>(context);
    if (exchange->body.AtStart()) {
        // The body starts going out (again): a head seen before belongs to an earlier round.
        exchange->response.OnResend();
    }
    return exchange->body.Read(reinterpret_cast<std::uint8_t*>(buffer), size * count);
}

int SeekBody(void* context, curl_off_t offset, int origin) {
    auto* exchange = static_cast<CHttpExchange*>(context);
    if (origin != SEEK_SET || offset < 0 ||
        !exchange->body.SeekTo(static_cast<std::uint64_t>(offset))) {
        return CURL_SEEKFUNC_FAIL;
    }
    exchange->response.OnResend();
    return CURL_SEEKFUNC_OK;
}

std::size_t TakeHeader(char* line, std::size_t size, std::size_t count, void* context) {
    auto* exchange = static_cast<CHttpExchange*>(context);
    const bool taken = exchange->response.OnHeaderLine(line, size * count);
    if (exchange->capture.on && size * count >= 5 && std::memcmp(line, "HTTP/", 5) == 0) {
        exchange->capture.OnStatusLine(exchange->response.Status());
    }
    return taken ? size * count : 0;
}

// Called by curl about once a second, also while it connects or waits for a stalled peer;
// a non-zero answer aborts the transfer.
int CheckStop(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const CHttpConnection*>(context)->StopRequestedNow() ? 1 : 0;
}

std::size_t TakeBody(char* bytes, std::size_t size, std::size_t count, void* context) {
    auto* exchange = static_cast<CHttpExchange*>(context);
    if (exchange->capture.on) {
        // Before the sink, which may refuse the bytes: an observer sees what the device sent.
        exchange->capture.OnBodyBytes(bytes, size * count);
    }
    return exchange->response.OnBodyBytes(bytes, size * count) ? size * count : 0;
}

// Texts that go into the request line or a header: UTF-8 without line breaks or NULs.
std::optional<std::string> HeaderText(const std::wstring& text) {
    std::optional<std::string> bytes = common::EncodeUtf8(text);
    if (bytes && bytes->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        return std::nullopt;
    }
    return bytes;
}

// A device is named by a host name or an IPv4 address; nothing else may reach the URL.
bool IsUsableHostName(const std::wstring& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
               c == L'.' || c == L'-';
    });
}

bool IsUsableObjectName(const std::wstring& name) {
    return !name.empty() && name[0] == L'/' &&
           std::all_of(name.begin(), name.end(), [](wchar_t c) { return c > 0x20 && c < 0x7F; });
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

bool Append(HeaderList& list, const std::string& line) {
    // The grown list starts with the old one, so ownership passes from one to the other; when
    // curl cannot grow it, the old list is left as it was.
    curl_slist* const old = list.release();
    curl_slist* const grown = curl_slist_append(old, line.c_str());
    list.reset(grown != nullptr ? grown : old);
    return grown != nullptr;
}

}  // namespace

void CExchangeCapture::Begin() {
    on = true;
    statuses.clear();
    bodyExcerpt.clear();
    bodyBytes = 0;
}

void CExchangeCapture::OnStatusLine(int status) noexcept {
    try {
        statuses.push_back(status);
    } catch (...) {
        // A status left out of a trace is better than an exchange cut short for it.
    }
    // A new response: a body seen before belongs to an earlier one.
    bodyExcerpt.clear();
    bodyBytes = 0;
}

void CExchangeCapture::OnBodyBytes(const char* bytes, std::size_t length) noexcept {
    bodyBytes += length;
    const std::size_t room = SExchangeRecord::kMaxBodyExcerpt -
                             std::min(bodyExcerpt.size(), SExchangeRecord::kMaxBodyExcerpt);
    try {
        bodyExcerpt.append(bytes, std::min(room, length));
    } catch (...) {
        // As above: the trace loses the excerpt, the exchange goes on.
    }
}

CHttpConnection::CHttpConnection(std::unique_ptr<CRequestBuilder> builder, std::wstring serverName,
                                 std::wstring userAgent, std::wstring userName,
                                 std::wstring password)
    : CConnection(std::move(builder)),
      serverName(std::move(serverName)),
      userAgent(std::move(userAgent)),
      userName(std::move(userName)),
      password(std::move(password)) {}

CHttpConnection::~CHttpConnection() {
    Close();
}

int CHttpConnection::Open() {
    try {
        if (connectHandle != nullptr) {
            Close();
        }
        if (!builder) {
            return -1;
        }
        CURL* handle = curl_easy_init();
        if (handle == nullptr) {
            return -1;
        }
        connectHandle = handle;
        bool ok =
            curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &TakeHeader) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_HEADERDATA, &exchange) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &TakeBody) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_WRITEDATA, &exchange) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_READFUNCTION, &ReadBody) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_READDATA, &exchange) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, &SeekBody) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_SEEKDATA, &exchange) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &CheckStop) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
        if (ok && observer) {
            errorText.assign(CURL_ERROR_SIZE, '\0');
            ok = curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText.data()) == CURLE_OK;
        }
        if (ok && !userAgent.empty()) {
            const std::optional<std::string> agent = HeaderText(userAgent);
            ok = agent && curl_easy_setopt(handle, CURLOPT_USERAGENT, agent->c_str()) == CURLE_OK;
        }
        if (!ok || SetTimeout(kDefaultTimeoutMs) != 0) {
            Close();
            return -1;
        }
        // The connection itself is made by the first request; here only its target is checked.
        if (!IsUsableHostName(serverName) ||
            curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) != CURLE_OK) {
            Close();
            return -1;
        }
        return 0;
    } catch (...) {
        Close();
        return -1;
    }
}

void CHttpConnection::Close() {
    requestOpen = false;
    bodyComplete = false;
    if (connectHandle != nullptr) {
        curl_easy_cleanup(Curl(connectHandle));
        connectHandle = nullptr;
    }
    exchange.body = CHttpBodySource();
    exchange.response.Start(CHttpResponseSink::Mode::kCollect);
    ByteSequence().swap(exchange.response.Body());
    // A device's connection lives as long as the model; the request it sent is not needed once
    // the exchange is over, and keeping it kept about a kilobyte per device between jobs.
    if (builder) {
        builder->Discard();
    }
}

void CHttpConnection::Reset() {
    Close();
    port = kDefaultPort;
    timeoutMs = kDefaultTimeoutMs;
}

int CHttpConnection::SetTimeout(std::uint32_t milliseconds) {
    timeoutMs = milliseconds;
    if (connectHandle == nullptr) {
        // Kept for the next handle.
        return 0;
    }
    return ApplyTimeout() ? 0 : -1;
}

bool CHttpConnection::ApplyTimeout() {
    // Stall detection instead of fixed time-outs: give up only when not even one byte per second
    // moved for the whole time-out, so that a long but moving upload is never cut.
    const long seconds = static_cast<long>((static_cast<std::uint64_t>(timeoutMs) + 999) / 1000);
    CURL* handle = Curl(connectHandle);
    return curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, seconds > 0 ? 1L : 0L) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, seconds) == CURLE_OK;
}

int CHttpConnection::Send(const std::wstring& document, const CUpdateImagePart* part) {
    try {
        if (connectHandle == nullptr) {
            return -1;
        }
        requestOpen = false;
        bodyComplete = false;
        if (builder->Build(serverName, document, part) != 0 ||
            OpenRequest(!userName.empty()) != 0 || SendBody() != 0) {
            Close();
            return -1;
        }
        requestOpen = true;
        return 0;
    } catch (...) {
        Close();
        return -1;
    }
}

bool CHttpConnection::SetRequestTarget() {
    const std::optional<std::string> host = HeaderText(serverName);
    const std::optional<std::string> object = HeaderText(builder->GetObjectName());
    const std::optional<std::string> referrer = HeaderText(builder->GetReferrer());
    if (!host || !object || !referrer || !IsUsableObjectName(builder->GetObjectName())) {
        return false;
    }
    std::string url = "http://" + *host;
    if (port != kDefaultPort) {
        url += ":" + std::to_string(port);
    }
    url += *object;
    CURL* handle = Curl(connectHandle);
    return curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_REFERER,
                            referrer->empty() ? nullptr : referrer->c_str()) == CURLE_OK;
}

int CHttpConnection::Perform(CHttpResponseSink::Mode mode) {
    if (StopRequested()) {
        return CURLE_ABORTED_BY_CALLBACK;
    }
    exchange.response.Start(mode);
    if (!observer) {
        return curl_easy_perform(Curl(connectHandle));
    }
    return PerformObserved(mode);
}

int CHttpConnection::PerformObserved(CHttpResponseSink::Mode mode) {
    CURL* handle = Curl(connectHandle);
    exchange.capture.Begin();
    if (!errorText.empty()) {
        errorText[0] = '\0';
    }
    const auto started = std::chrono::system_clock::now();
    const auto clock = std::chrono::steady_clock::now();
    const CURLcode result = curl_easy_perform(handle);
    const auto duration = std::chrono::steady_clock::now() - clock;
    exchange.capture.on = false;
    try {
        SExchangeRecord record;
        record.priming = mode == CHttpResponseSink::Mode::kDiscard;
        record.started = started;
        record.duration = std::chrono::duration_cast<std::chrono::microseconds>(duration);
        record.curlCode = static_cast<int>(result);
        if (result != CURLE_OK) {
            record.error = !errorText.empty() && errorText[0] != '\0'
                               ? std::string(errorText.data())
                               : std::string(curl_easy_strerror(result));
        }
        if (exchange.response.HeadComplete()) {
            record.status = exchange.response.Status();
        }
        record.statuses = std::move(exchange.capture.statuses);
        record.requestBytes = exchange.body.TotalSize();
        curl_off_t sent = 0;
        if (curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK && sent > 0) {
            record.bytesSent = static_cast<std::uint64_t>(sent);
        }
        record.resends = exchange.body.RewindCount();
        record.bodyExcerpt = std::move(exchange.capture.bodyExcerpt);
        record.bodyBytes = exchange.capture.bodyBytes;
        observer->OnExchange(record);
    } catch (...) {
        // The observer only watches: whatever it cannot note, the exchange's result stands.
    }
    return static_cast<int>(result);
}

int CHttpConnection::OpenRequest(bool withCredentials) {
    const std::optional<std::string> verb = HeaderText(builder->GetVerb());
    if (!verb || *verb != "POST" || !SetRequestTarget()) {
        return -1;
    }
    if (!withCredentials) {
        return 0;
    }
    const std::optional<std::string> user = common::EncodeUtf8(userName);
    const std::optional<std::string> secret = common::EncodeUtf8(password);
    CURL* handle = Curl(connectHandle);
    if (!user || !secret ||
        curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_ANY)) !=
            CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_USERNAME, user->c_str()) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_PASSWORD, secret->c_str()) != CURLE_OK) {
        return -1;
    }

    // The priming request: an empty POST to the same object that lets the device name its
    // authentication scheme. Its answer is thrown away; the real request that follows on this
    // handle authenticates with what this exchange settled.
    HeaderList fields;
    // No form content type for an empty body.
    if (!Append(fields, "Content-Type:")) {
        return -1;
    }
    exchange.body = CHttpBodySource();
    if (curl_easy_setopt(handle, CURLOPT_POST, 1L) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0)) !=
            CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, fields.get()) != CURLE_OK) {
        return -1;
    }
    const int result = Perform(CHttpResponseSink::Mode::kDiscard);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
    // An answer too long to read to its end was an answer all the same.
    const bool answered =
        result == CURLE_OK || (result == CURLE_WRITE_ERROR && exchange.response.BodyTooLarge());
    return answered ? 0 : -1;
}

int CHttpConnection::SendBody() {
    const std::optional<std::string> contentType = HeaderText(builder->GetHeaders());
    HeaderList fields;
    // The credentials are settled by the priming request, so the body goes out at once
    // instead of waiting for "100 Continue".
    if (!contentType || (!contentType->empty() && !Append(fields, *contentType)) ||
        !Append(fields, "Expect:")) {
        return -1;
    }
    exchange.body =
        CHttpBodySource(builder->GetBodyHead(), builder->GetFileData(), builder->GetBodyTail());
    CURL* handle = Curl(connectHandle);
    if (curl_easy_setopt(handle, CURLOPT_POST, 1L) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(exchange.body.TotalSize())) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, fields.get()) != CURLE_OK) {
        return -1;
    }
    const int result = Perform(CHttpResponseSink::Mode::kCollect);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
    // The request counts as sent once the device's final answer has begun: a failure while its
    // body is read is Receive's to report.
    if (!exchange.response.HeadComplete()) {
        return -1;
    }
    bodyComplete = result == CURLE_OK;
    return 0;
}

int CHttpConnection::Receive(ByteSequence& bytes) {
    if (!requestOpen) {
        return 1;
    }
    int result = exchange.response.Status();
    if (result == 200) {
        if (bodyComplete) {
            bytes.swap(exchange.response.Body());
        } else {
            bytes.clear();
            result = -1;
        }
    }
    Close();
    return result;
}

}  // namespace talbo::tesk::vorta
