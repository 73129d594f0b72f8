#pragma once
// A scripted HTTP/1.1 server on 127.0.0.1 that records every request byte for byte.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorta_test {

struct CapturedRequest {
    std::string head;  // request line and fields up to and including the empty line
    std::string method;
    std::string target;
    std::string body;
    // The first field of that name (case-insensitive), or "" when there is none.
    std::string Field(const std::string& name) const;
    bool HasField(const std::string& name) const;
};

struct Reply {
    std::string bytes;   // sent as they are
    bool close = false;  // close the connection after sending
    bool stall = false;  // send bytes, then neither answer nor close until the server stops
};

inline Reply Respond(int status, const std::string& body = "",
                     const std::string& extraFields = "") {
    return {"HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n" + extraFields + "\r\n" + body};
}

class LoopbackHttpServer {
public:
    // handler sees each complete request with its index (0 for the first) and says what to send.
    using Handler = std::function<Reply(const CapturedRequest& request, int index)>;

    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer();

    std::uint16_t Port() const { return port; }
    std::vector<CapturedRequest> Requests() const;

private:
    void Serve();
    bool ServeConnection(int connection);
    bool WaitReadable(int fd);

    Handler handler;
    int listener = -1;
    int stopPipe[2] = {-1, -1};
    std::uint16_t port = 0;
    mutable std::mutex mutex;
    std::vector<CapturedRequest> requests;
    std::thread thread;
};

// Sets or clears an environment variable for one scope, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();

private:
    std::string name;
    bool had = false;
    std::string old;
};

// No proxy for direct loopback tests, whatever the environment says.
struct DirectConnectionEnv {
    ScopedEnv http{"http_proxy", nullptr};
    ScopedEnv all{"all_proxy", nullptr};
    ScopedEnv none{"no_proxy", "*"};
};

}  // namespace vorta_test
