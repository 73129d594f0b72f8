#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talbo::tesk::vorta {

// What one request/response round trip of the HTTP client did, as far as it can be told without
// the request's headers: no credentials, no challenge, no nonce ever reach it.
struct SExchangeRecord {
    // The longest start of an answer body a record keeps.
    static constexpr std::size_t kMaxBodyExcerpt = 4096;

    bool priming = false;  // the empty request that settles the credentials
    std::chrono::system_clock::time_point started;
    std::chrono::microseconds duration{0};
    int curlCode = 0;   // 0 when the client reported no error
    std::string error;  // the client's own error text when curlCode is not 0
    // The status of the final answer once its head was read completely; none when the
    // connection ended before (refused, dropped, timed out).
    std::optional<int> status;
    // The status of every response head in order, authentication rounds included.
    std::vector<int> statuses;
    std::uint64_t requestBytes = 0;  // the body size the request declared
    std::uint64_t bytesSent = 0;     // body bytes the client sent on its last attempt
    int resends = 0;                 // times the client rewound the body to send it again
    std::string bodyExcerpt;         // the first kMaxBodyExcerpt bytes of the final answer's body
    std::uint64_t bodyBytes = 0;     // bytes of that body the client read
};

// Told about every round trip of a connection. Called on the thread that performs the exchange,
// after it has ended; it must not throw and must not call back into the connection.
class CExchangeObserver {
public:
    virtual ~CExchangeObserver() = default;
    virtual void OnExchange(const SExchangeRecord& record) noexcept = 0;
};

}  // namespace talbo::tesk::vorta
