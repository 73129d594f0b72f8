#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/protocol/CConnection.h"
#include "engine/protocol/CHttpBodySource.h"
#include "engine/protocol/CHttpResponseSink.h"

namespace talbo::tesk::vorta {

// What the client's callbacks note for an exchange observer while one watches: every response
// head's status and the start of the last response's body. Off, it notes nothing.
struct CExchangeCapture {
    bool on = false;
    std::vector<int> statuses;
    std::string bodyExcerpt;
    std::uint64_t bodyBytes = 0;

    void Begin();
    // Never throw: they run inside the client's callbacks.
    void OnStatusLine(int status) noexcept;
    void OnBodyBytes(const char* bytes, std::size_t length) noexcept;
};

// What the HTTP client's callbacks work on while one request is performed.
struct CHttpExchange {
    CHttpBodySource body;
    CHttpResponseSink response;
    CExchangeCapture capture;
};

// One device's firmware-update endpoint over HTTP/1.1 on a libcurl easy handle. Open prepares
// the handle; Send performs the whole exchange (the priming request that settles the
// credentials, then the real request) and keeps the answer; Receive hands the answer out and
// closes everything. Nothing here prints or logs.
class CHttpConnection : public CConnection {
public:
    static constexpr std::uint32_t kDefaultTimeoutMs = 300000;
    static constexpr long kConnectTimeoutSeconds = 60;
    static constexpr std::uint16_t kDefaultPort = 80;

    CHttpConnection(std::unique_ptr<CRequestBuilder> builder, std::wstring serverName,
                    std::wstring userAgent, std::wstring userName, std::wstring password);
    ~CHttpConnection() override;

    CHttpConnection(const CHttpConnection&) = delete;
    CHttpConnection& operator=(const CHttpConnection&) = delete;

    int Open() override;
    void Close() override;
    // Also the port and the time-out go back to their defaults.
    void Reset() override;
    int Send(const std::wstring& document, const CUpdateImagePart* part) override;
    int Receive(ByteSequence& bytes) override;
    // The time-out is the longest time the exchange may go without moving a byte (a slow but
    // moving transfer is never cut); 0 switches the stall detection off.
    int SetTimeout(std::uint32_t milliseconds) override;

    // Whether the stop signal has been raised; read by the transfer's progress callback.
    bool StopRequestedNow() const { return StopRequested(); }

    // Devices listen on the default HTTP port; tests point connections at their own servers.
    void SetPort(std::uint16_t newPort) { port = newPort; }

private:
    int OpenRequest(bool withCredentials);
    int SendBody();
    bool ApplyTimeout();
    bool SetRequestTarget();
    // Performs the prepared request; the curl result code.
    int Perform(CHttpResponseSink::Mode mode);
    // Perform with the round trip timed, captured and handed to the observer.
    int PerformObserved(CHttpResponseSink::Mode mode);

    // The curl easy handle: the session and the connection to the device in one.
    void* connectHandle = nullptr;
    // A request has been sent and its answer waits for Receive.
    bool requestOpen = false;
    std::wstring serverName;
    std::wstring userAgent;
    std::wstring userName;
    std::wstring password;
    std::uint16_t port = kDefaultPort;
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
    // The answer's body was read to its end (only then is a 200 body handed out).
    bool bodyComplete = false;
    CHttpExchange exchange;
    // The client's error text of the latest round trip; only while an observer watches.
    std::vector<char> errorText;
};

}  // namespace talbo::tesk::vorta
