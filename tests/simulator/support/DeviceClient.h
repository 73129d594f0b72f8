#pragma once
// A small libcurl client that talks to simulated devices the way the update tool does: an empty
// priming POST with the credentials, then the real POST on the same handle, its body sent in
// three pieces with the total length declared.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "RequestBodies.h"

namespace devsim_test {

inline constexpr const char* kEndpointPath = "/firmware-update/firmware-update";

enum class AuthMode { None, Any, Digest, Basic };

struct Reply {
    int curlCode = 0;  // CURLE_OK is 0
    long status = 0;
    std::string body;
    std::string challenge;  // WWW-Authenticate of the last response
    double seconds = 0;     // of the real request
    long connections = 0;   // new connections the whole exchange opened, priming included
};

// File bytes produced on demand, so that a large part never has to be held.
struct FileSource {
    std::uint64_t size = 0;
    std::function<void(std::uint64_t offset, char* out, std::size_t count)> fill;

    static FileSource Of(const std::string& bytes);
};

// MD5 of the bytes a source produces, computed in slices.
std::string Md5OfSource(const FileSource& source);

class DeviceClient {
public:
    // Through the simulator as HTTP proxy, to a device by host name.
    static DeviceClient ViaProxy(int proxyPort, std::string host);
    // Straight to a device's own "address:port".
    static DeviceClient Direct(std::string address);

    DeviceClient& WithAuth(AuthMode mode, std::string user = "client",
                           std::string password = "Tz8wq3-k");
    DeviceClient& WithTimeoutMs(long milliseconds);
    DeviceClient& WithoutPriming();

    // One exchange like the tool's: priming (unless switched off), then the request.
    Reply Send(const Body& body, const FileSource* file = nullptr) const;
    Reply GetInformation() const;
    Reply ChangeMode(std::string_view afterVersion, const std::string& file) const;
    Reply Update(std::string_view afterVersion, const std::string& file) const;
    // The empty priming POST alone, without credentials.
    Reply BarePriming() const;
    // Any method and body, sent with the credentials.
    Reply Raw(const std::string& method, const std::string& url, const std::string& contentType,
              const std::string& body) const;

    const std::string& Url() const { return url_; }

private:
    // URL, proxy (never the environment's), time-out and no signals on a fresh handle.
    void Target(void* curl, const std::string& url) const;

    std::string proxy_;
    std::string url_;
    AuthMode auth_ = AuthMode::Any;
    std::string user_ = "client";
    std::string password_ = "Tz8wq3-k";
    long timeoutMs_ = 30000;
    bool prime_ = true;
};

}  // namespace devsim_test
