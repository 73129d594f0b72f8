#include "simulator/CDeviceServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstring>
#include <new>

#include "simulator/CReplayScript.h"
#include "simulator/CUploadInspector.h"

namespace talbo::tesk::vorta::devsim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::string_view kEndpoint = "/firmware-update/firmware-update";
// Memory of one connection: headers, and the buffer upload data arrives in. libmicrohttpd
// clears the whole of it for every request, so a generous size makes every small request pay
// for it (1 MiB cost a thousand-device test more CPU than everything else together); 64 KiB
// still takes uploads as fast as the digests can follow.
constexpr std::size_t kConnectionMemory = std::size_t{64} * 1024;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

struct HostAndPort {
    std::string host;
    std::optional<int> port;
    bool valid = true;
};

HostAndPort SplitAuthority(std::string_view authority) {
    HostAndPort result;
    if (authority.find('@') != std::string_view::npos || authority.empty()) {
        result.valid = false;
        return result;
    }
    std::string_view port;
    if (authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            result.valid = false;
            return result;
        }
        result.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') {
                result.valid = false;
                return result;
            }
            port = authority.substr(close + 2);
        }
    } else {
        std::size_t colon = authority.rfind(':');
        result.host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = authority.substr(colon + 1);
        }
    }
    if (!port.empty()) {
        int value = 0;
        auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        result.valid = ec == std::errc() && end == port.data() + port.size();
        result.port = value;
    }
    return result;
}

// An absolute-form target (through a proxy) splits into authority and path.
bool SplitAbsolute(std::string_view target, std::string_view& authority, std::string_view& path) {
    constexpr std::string_view kScheme = "http://";
    if (target.size() < kScheme.size() || Lower(target.substr(0, kScheme.size())) != kScheme) {
        return false;
    }
    std::string_view rest = target.substr(kScheme.size());
    std::size_t slash = rest.find('/');
    authority = rest.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    return true;
}

const char* Header(MHD_Connection* connection, const char* name) {
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

std::string_view TerminationName(int code) {
    switch (code) {
        case MHD_REQUEST_TERMINATED_COMPLETED_OK:
            return "completed";
        case MHD_REQUEST_TERMINATED_WITH_ERROR:
            return "error";
        case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
            return "timeout";
        case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
            return "shutdown";
        case MHD_REQUEST_TERMINATED_READ_ERROR:
            return "read-error";
        case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
            return "client-abort";
    }
    return "unknown";
}

nlohmann::ordered_json OrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

// What a connection keeps across its requests: how many it has carried. A replayed device needs
// it because a client resends by itself a request whose reused connection died without an
// answer.
struct ConnectionRequests {
    int count = 0;
};

}  // namespace

struct CDeviceServer::Listener {
    CDeviceServer* server = nullptr;
    CSimulatedDevice* device = nullptr;  // direct mode; null in proxy mode
    ListenAddress address;
    MHD_Daemon* daemon = nullptr;
};

struct CDeviceServer::Exchange {
    Clock::time_point started = Clock::now();
    std::string method;
    std::string target;
    std::string path;
    std::string requestedHost;
    CSimulatedDevice* device = nullptr;
    bool credentials = false;
    std::string auth;
    std::string authDetail;
    std::optional<std::uint64_t> contentLength;
    std::string contentType;
    std::string userAgent;
    std::string referer;
    std::unique_ptr<CUploadInspector> inspector;
    // A challenge for a request without a body waits for the request's end (whether the nonce
    // was stale); answered at once, libmicrohttpd would close the connection.
    std::optional<bool> pendingChallenge;

    bool classified = false;
    RequestKind kind = RequestKind::Unknown;
    PartIdentity part;
    std::vector<Fault> faults;
    std::vector<std::string> faultNames;
    std::optional<std::uint64_t> dropAt;
    std::optional<std::uint64_t> stallAt;
    std::optional<int> stallMs;
    bool stalledMidway = false;
    int delayMs = 0;

    bool responded = false;
    bool logged = false;
    bool dropped = false;
    int status = 0;
    std::string answer;
    std::string reason;
    std::string note;
    std::optional<int> restartMs;
    std::string termination;

    int requestOnConnection = 1;  // 1 for the first request of its connection
    std::optional<ReplayAnswer> replayed;
};

namespace {

MHD_Result OnAccess(void* cls, MHD_Connection* connection, const char* url, const char* method,
                    const char* /*version*/, const char* uploadData, size_t* uploadSize,
                    void** context) {
    auto* listener = static_cast<CDeviceServer::Listener*>(cls);
    return static_cast<MHD_Result>(listener->server->Access(*listener, connection, url, method,
                                                            uploadData, uploadSize, context));
}

void OnCompleted(void* cls, MHD_Connection* /*connection*/, void** context,
                 MHD_RequestTerminationCode termination) {
    auto* exchange = static_cast<CDeviceServer::Exchange*>(*context);
    if (exchange == nullptr) {
        return;
    }
    static_cast<CDeviceServer::Listener*>(cls)->server->Completed(*exchange, termination);
    *context = nullptr;
}

MHD_Result OnAcceptPolicy(void* cls, const sockaddr* /*address*/, socklen_t /*length*/) {
    auto* listener = static_cast<CDeviceServer::Listener*>(cls);
    return listener->server->AcceptConnection(*listener) ? MHD_YES : MHD_NO;
}

// Keeps the request target exactly as received, for routing and for the log.
size_t OnUnescape(void* /*cls*/, MHD_Connection* /*connection*/, char* text) {
    return std::strlen(text);
}

void OnConnection(void* /*cls*/, MHD_Connection* /*connection*/, void** socketContext,
                  MHD_ConnectionNotificationCode code) {
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        *socketContext = new (std::nothrow) ConnectionRequests;
    } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        delete static_cast<ConnectionRequests*>(*socketContext);
        *socketContext = nullptr;
    }
}

void OnLibraryLog(void* /*cls*/, const char* format, va_list arguments) {
    std::fputs("vorta-devsim: http: ", stderr);
    std::vfprintf(stderr, format, arguments);
}

}  // namespace

CDeviceServer::CDeviceServer(std::vector<std::unique_ptr<CSimulatedDevice>>& devices,
                             CEventLog& log, CStopToken& stop)
    : devices_(devices), log_(log), stop_(stop) {
    for (auto& device : devices_) {
        byHost_[Lower(device->Host())] = device.get();
        counters_[device.get()];
    }
}

CDeviceServer::~CDeviceServer() {
    Stop();
}

bool CDeviceServer::StartProxy(const ListenAddress& address, std::string& error) {
    return StartListener(address, nullptr, error);
}

bool CDeviceServer::StartDirect(std::string& error) {
    for (auto& device : devices_) {
        if (!StartListener(*device->Settings().listen, device.get(), error)) {
            return false;
        }
    }
    return true;
}

bool CDeviceServer::StartListener(const ListenAddress& address, CSimulatedDevice* device,
                                  std::string& error) {
    auto listener = std::make_unique<Listener>();
    listener->server = this;
    listener->device = device;
    listener->address = address;
    sockaddr_storage storage{};
    unsigned int flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                         MHD_USE_POLL | MHD_USE_ERROR_LOG;
    if (address.ipv6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(address.port));
        inet_pton(AF_INET6, address.host.c_str(), &v6->sin6_addr);
        flags |= MHD_USE_IPv6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(address.port));
        inet_pton(AF_INET, address.host.c_str(), &v4->sin_addr);
    }
    errno = 0;
    listener->daemon = MHD_start_daemon(
        flags, static_cast<std::uint16_t>(address.port), device ? OnAcceptPolicy : nullptr,
        listener.get(), OnAccess, listener.get(), MHD_OPTION_EXTERNAL_LOGGER, OnLibraryLog, nullptr,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&storage), MHD_OPTION_NOTIFY_COMPLETED,
        OnCompleted, listener.get(), MHD_OPTION_NOTIFY_CONNECTION, OnConnection, nullptr,
        MHD_OPTION_UNESCAPE_CALLBACK, OnUnescape, nullptr, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kConnectionMemory, MHD_OPTION_END);
    if (listener->daemon == nullptr) {
        error = "cannot listen on " + address.ToString() +
                (errno ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(listener->daemon, MHD_DAEMON_INFO_LISTEN_FD);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (info != nullptr &&
        getsockname(info->listen_fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
        listener->address.port =
            ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    }
    listeners_.push_back(std::move(listener));
    return true;
}

void CDeviceServer::Stop() {
    for (auto& listener : listeners_) {
        if (listener->daemon != nullptr) {
            MHD_stop_daemon(listener->daemon);
            listener->daemon = nullptr;
        }
    }
}

std::vector<std::pair<std::string, ListenAddress>> CDeviceServer::Bound() const {
    std::vector<std::pair<std::string, ListenAddress>> bound;
    for (const auto& listener : listeners_) {
        bound.emplace_back(listener->device ? listener->device->Host() : "proxy",
                           listener->address);
    }
    return bound;
}

DeviceCounters CDeviceServer::Counters(const CSimulatedDevice& device) {
    std::lock_guard lock(countersMutex_);
    return counters_[&device];
}

CSimulatedDevice* CDeviceServer::FindDevice(std::string_view host) const {
    auto it = byHost_.find(Lower(host));
    return it == byHost_.end() ? nullptr : it->second;
}

bool CDeviceServer::AcceptConnection(const Listener& listener) {
    if (listener.device == nullptr || !listener.device->IsDown()) {
        return true;
    }
    // A restarting device is a host that takes no connection.
    log_.Write({{"event", "connection-refused"},
                {"device", listener.device->Host()},
                {"reason", "restarting"}});
    return false;
}

int CDeviceServer::Access(Listener& listener, MHD_Connection* connection, const char* url,
                          const char* method, const char* uploadData, std::size_t* uploadSize,
                          void** context) {
    try {
        auto* exchange = static_cast<Exchange*>(*context);
        if (exchange == nullptr) {
            exchange = new Exchange;
            *context = exchange;
            return BeginExchange(listener, connection, url, method, *exchange);
        }
        if (exchange->responded) {
            *uploadSize = 0;  // answered early: the rest of the body is not read
            return MHD_YES;
        }
        if (exchange->pendingChallenge) {
            *uploadSize = 0;
            return Respond(
                connection, *exchange, MHD_HTTP_UNAUTHORIZED, {},
                exchange->device->Authenticator().Challenge(*exchange->pendingChallenge));
        }
        if (*uploadSize > 0) {
            exchange->inspector->Feed(std::string_view(uploadData, *uploadSize));
            *uploadSize = 0;
            if (!exchange->classified && exchange->inspector->TakeClassification()) {
                Classify(*exchange);
            }
            std::uint64_t seen = exchange->inspector->BodyBytes();
            if (exchange->dropAt && seen >= *exchange->dropAt) {
                exchange->dropped = true;
                exchange->answer = "dropped";
                return MHD_NO;
            }
            if (exchange->stallAt && !exchange->stalledMidway && seen >= *exchange->stallAt) {
                exchange->stalledMidway = true;
                bool stopped = *exchange->stallMs == 0
                                   ? (stop_.WaitForStop(), true)
                                   : !stop_.WaitFor(std::chrono::milliseconds(*exchange->stallMs));
                if (stopped) {
                    exchange->answer = "stopped";
                    return MHD_NO;
                }
            }
            return MHD_YES;
        }
        return EndExchange(connection, *exchange);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorta-devsim: request failed: %s\n", e.what());
        return MHD_NO;
    }
}

int CDeviceServer::BeginExchange(Listener& listener, MHD_Connection* connection, const char* url,
                                 const char* method, Exchange& exchange) {
    exchange.method = method;
    exchange.target = url;
    if (const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        info != nullptr && info->socket_context != nullptr) {
        exchange.requestOnConnection =
            ++static_cast<ConnectionRequests*>(info->socket_context)->count;
    }
    const char* authorization = Header(connection, MHD_HTTP_HEADER_AUTHORIZATION);
    exchange.credentials = authorization != nullptr;
    const char* contentType = Header(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
    exchange.contentType = contentType ? contentType : "";
    if (const char* value = Header(connection, MHD_HTTP_HEADER_USER_AGENT))
        exchange.userAgent = value;
    if (const char* value = Header(connection, MHD_HTTP_HEADER_REFERER))
        exchange.referer = value;
    if (const char* value = Header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
        std::uint64_t length = 0;
        std::string_view text(value);
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), length);
        if (ec == std::errc() && end == text.data() + text.size()) {
            exchange.contentLength = length;
        }
    }

    std::string_view authority;
    std::string_view path = exchange.target;
    bool absolute = SplitAbsolute(exchange.target, authority, path);
    exchange.path = path;
    if (listener.device != nullptr) {
        exchange.device = listener.device;
        exchange.requestedHost = listener.device->Host();
    } else {
        if (!absolute) {
            const char* host = Header(connection, MHD_HTTP_HEADER_HOST);
            authority = host ? host : "";
        }
        HostAndPort named = SplitAuthority(authority);
        exchange.requestedHost = named.host.empty() ? std::string(authority) : named.host;
        if (named.valid && (!named.port || *named.port == 80)) {
            exchange.device = FindDevice(named.host);
        }
    }
    if (exchange.device == nullptr) {
        exchange.answer = "unknown-host";
        exchange.note = "no simulated device is named \"" + exchange.requestedHost + "\"";
        return Respond(connection, exchange, MHD_HTTP_BAD_GATEWAY, {}, {});
    }
    if (exchange.device->IsDown()) {
        exchange.answer = "down";
        exchange.note = "the device is restarting";
        if (listener.device != nullptr) {
            exchange.dropped = true;
            LogExchange(exchange);
            return MHD_NO;
        }
        return Respond(connection, exchange, MHD_HTTP_BAD_GATEWAY, {}, {});
    }
    if (exchange.path != kEndpoint) {
        exchange.answer = "not-found";
        return Respond(connection, exchange, MHD_HTTP_NOT_FOUND, {}, {});
    }
    if (exchange.method != "POST") {
        exchange.answer = "method-not-allowed";
        return Respond(connection, exchange, MHD_HTTP_METHOD_NOT_ALLOWED, {}, {});
    }
    if (CReplayScript* replay = exchange.device->Replay();
        replay != nullptr && exchange.contentLength == std::uint64_t{0} &&
        replay->Peek(RequestKind::Priming, exchange.requestOnConnection > 1) ==
            ReplayAnswer::Outcome::Drop) {
        // The recorded client got nothing for its priming request, not even a challenge: the
        // connection goes before the credentials are asked for, as it went then.
        exchange.classified = true;
        exchange.kind = RequestKind::Priming;
        exchange.replayed = replay->Take(RequestKind::Priming, exchange.requestOnConnection > 1);
        exchange.note = exchange.replayed->note;
        exchange.answer = "dropped";
        exchange.dropped = true;
        LogExchange(exchange);
        return MHD_NO;
    }
    AuthCheck check = exchange.device->Authenticator().Check(exchange.method, authorization,
                                                             exchange.target, exchange.path);
    exchange.auth = AuthResultName(check.result);
    exchange.authDetail = check.detail;
    if (!check.Passed()) {
        exchange.answer = "challenge";
        // A body-less request (credentials being primed) keeps its connection, as an HTTP server
        // does; a request that carries a body is refused before it is read, and the connection
        // goes with it.
        if (exchange.contentLength == std::uint64_t{0}) {
            exchange.pendingChallenge = check.result == AuthCheck::Result::Stale;
            return MHD_YES;
        }
        return Respond(
            connection, exchange, MHD_HTTP_UNAUTHORIZED, {},
            exchange.device->Authenticator().Challenge(check.result == AuthCheck::Result::Stale));
    }
    exchange.inspector = std::make_unique<CUploadInspector>(contentType, exchange.contentLength);
    return MHD_YES;
}

void CDeviceServer::Classify(Exchange& exchange) {
    exchange.classified = true;
    CUploadInspector& inspector = *exchange.inspector;
    const auto& document = inspector.Document();
    if (inspector.BodyBytes() == 0) {
        exchange.kind = RequestKind::Priming;
    } else if (document) {
        switch (document->type) {
            case RequestType::GetInformation:
                exchange.kind = RequestKind::GetInformation;
                break;
            case RequestType::ChangeMode:
                exchange.kind = RequestKind::ChangeMode;
                break;
            case RequestType::Update:
                exchange.kind = RequestKind::Update;
                break;
        }
        if (document->type != RequestType::GetInformation) {
            exchange.part = exchange.device->Identify(document->type, document->fileDigest,
                                                      inspector.ExpectedFileSize());
        }
    }
    if (CReplayScript* replay = exchange.device->Replay()) {
        // A replayed device shows no faults of its own: the trace says what happens.
        exchange.replayed = replay->Take(exchange.kind, exchange.requestOnConnection > 1);
        if (exchange.replayed->outcome == ReplayAnswer::Outcome::Drop) {
            exchange.note = exchange.replayed->note;
            exchange.dropAt =
                exchange.contentLength ? *exchange.contentLength / 2 : inspector.BodyBytes();
        }
        return;
    }
    exchange.faults = exchange.device->FireFaults(exchange.kind, exchange.part);
    for (const auto& fault : exchange.faults) {
        exchange.faultNames.push_back(fault.Describe());
        if (fault.action == FaultAction::Drop) {
            exchange.dropAt = fault.afterBytes         ? *fault.afterBytes
                              : exchange.contentLength ? *exchange.contentLength / 2
                                                       : inspector.BodyBytes();
        } else if (fault.action == FaultAction::Stall) {
            exchange.stallMs = fault.ms;
            exchange.stallAt = fault.afterBytes;
        } else if (fault.action == FaultAction::Delay) {
            exchange.delayMs += fault.ms;
        }
    }
}

int CDeviceServer::EndExchange(MHD_Connection* connection, Exchange& exchange) {
    CUploadInspector& inspector = *exchange.inspector;
    inspector.Finish();
    if (!exchange.classified) {
        inspector.TakeClassification();
        Classify(exchange);
    }
    if (exchange.dropAt) {
        exchange.dropped = true;
        exchange.answer = "dropped";
        return MHD_NO;
    }
    if (exchange.delayMs > 0 && !stop_.WaitFor(std::chrono::milliseconds(exchange.delayMs))) {
        exchange.answer = "stopped";
        return MHD_NO;
    }
    if (exchange.stallMs && !exchange.stalledMidway) {
        bool stopped = *exchange.stallMs == 0
                           ? (stop_.WaitForStop(), true)
                           : !stop_.WaitFor(std::chrono::milliseconds(*exchange.stallMs));
        if (stopped) {
            exchange.answer = "stopped";
            return MHD_NO;
        }
    }
    if (exchange.replayed) {
        return RespondReplayed(connection, exchange);
    }
    CSimulatedDevice& device = *exchange.device;
    const auto& document = inspector.Document();
    DeviceAnswer answer;
    if (exchange.kind == RequestKind::Priming) {
        answer = device.HandlePriming(exchange.faults);
    } else if (document && (inspector.Ok() || inspector.FileProblemOnly())) {
        answer = device.Handle(*document, exchange.part,
                               FileCheck{inspector.Ok(), inspector.Error()}, exchange.faults);
    } else {
        answer = device.HandleMalformed(
            exchange.kind, inspector.ErrorReason().empty() ? "OtherError" : inspector.ErrorReason(),
            inspector.Error(), exchange.faults);
    }
    exchange.answer = answer.outcome;
    exchange.reason = answer.reason;
    exchange.note = answer.note;
    exchange.restartMs = answer.restartMs;
    std::string challenge =
        answer.challenge ? device.Authenticator().Challenge(false) : std::string();
    return Respond(connection, exchange, answer.httpStatus, answer.body, challenge);
}

int CDeviceServer::RespondReplayed(MHD_Connection* connection, Exchange& exchange) {
    const ReplayAnswer& replayed = *exchange.replayed;
    exchange.note = replayed.note;
    switch (replayed.outcome) {
        case ReplayAnswer::Outcome::Answer: {
            // Through a proxy a device that is restarting answers 502; a probe's recorded 502 is
            // that device.
            exchange.answer =
                replayed.probe && replayed.status == MHD_HTTP_BAD_GATEWAY ? "down" : "replayed";
            exchange.reason = std::to_string(replayed.status);
            const std::string challenge = replayed.status == MHD_HTTP_UNAUTHORIZED
                                              ? exchange.device->Authenticator().Challenge(false)
                                              : std::string();
            return Respond(connection, exchange, replayed.status, replayed.body, challenge);
        }
        case ReplayAnswer::Outcome::Drop:
            exchange.dropped = true;
            exchange.answer = "dropped";
            return MHD_NO;
        case ReplayAnswer::Outcome::Diverged:
            exchange.answer = "diverged";
            break;
        case ReplayAnswer::Outcome::Exhausted:
            exchange.answer = "exhausted";
            break;
    }
    // The client left the trace: what it gets now is what an unreachable device gives.
    return Respond(connection, exchange, MHD_HTTP_BAD_GATEWAY, {}, {});
}

int CDeviceServer::Respond(MHD_Connection* connection, Exchange& exchange, int status,
                           const std::string& body, const std::string& challenge) {
    exchange.responded = true;
    exchange.status = status;
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    if (!body.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/xml; charset=utf-8");
    }
    if (!challenge.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, challenge.c_str());
    }
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "POST");
    }
    // Logged before the answer leaves, so that a client that has its answer finds the line.
    LogExchange(exchange);
    MHD_Result result = MHD_queue_response(connection, static_cast<unsigned int>(status), response);
    MHD_destroy_response(response);
    return result;
}

void CDeviceServer::Completed(Exchange& exchange, int termination) {
    exchange.termination = TerminationName(termination);
    bool interrupted = exchange.dropped ||
                       (!exchange.responded && termination != MHD_REQUEST_TERMINATED_COMPLETED_OK);
    if (!exchange.logged) {
        if (exchange.answer.empty()) {
            exchange.answer =
                termination == MHD_REQUEST_TERMINATED_COMPLETED_OK ? "none" : "aborted";
        }
        LogExchange(exchange);
    }
    if (interrupted && exchange.inspector && exchange.inspector->BodyBytes() > 0) {
        exchange.device->NoteInterruptedTransfer(exchange.kind);
    }
    delete &exchange;
}

void CDeviceServer::LogExchange(Exchange& exchange) {
    exchange.logged = true;
    const CUploadInspector* inspector = exchange.inspector.get();
    nlohmann::ordered_json entry;
    entry["event"] = "request";
    entry["device"] = exchange.requestedHost;
    entry["known"] = exchange.device != nullptr;
    entry["method"] = exchange.method;
    entry["target"] = exchange.target;
    entry["credentials"] = exchange.credentials;
    entry["auth"] = OrNull(exchange.auth);
    entry["auth_detail"] = OrNull(exchange.authDetail);
    entry["request"] =
        exchange.classified ? nlohmann::ordered_json(std::string(RequestKindName(exchange.kind)))
        : exchange.contentLength == std::uint64_t{0} ? nlohmann::ordered_json("priming")
                                                     : nlohmann::ordered_json();
    entry["part"] = OrNull(exchange.part.name);
    entry["part_number"] = exchange.part.number ? nlohmann::ordered_json(exchange.part.number)
                                                : nlohmann::ordered_json();
    entry["part_source"] =
        exchange.part.source == PartIdentity::Source::None
            ? nlohmann::ordered_json()
            : nlohmann::ordered_json(std::string(PartSourceName(exchange.part.source)));
    entry["content_type"] = OrNull(exchange.contentType);
    entry["content_length"] = exchange.contentLength
                                  ? nlohmann::ordered_json(*exchange.contentLength)
                                  : nlohmann::ordered_json();
    entry["bytes"] = inspector ? inspector->BodyBytes() : 0;
    entry["boundary"] = inspector ? OrNull(inspector->Boundary()) : nlohmann::ordered_json();
    entry["user_agent"] = OrNull(exchange.userAgent);
    entry["referer"] = OrNull(exchange.referer);
    const auto* document = inspector && inspector->Document() ? &*inspector->Document() : nullptr;
    entry["request_type"] =
        inspector ? OrNull(inspector->RequestTypeText()) : nlohmann::ordered_json();
    entry["mac"] = document ? OrNull(document->macAddress) : nlohmann::ordered_json();
    entry["after_version"] = document ? OrNull(document->afterVersion) : nlohmann::ordered_json();
    entry["file_digest"] = document ? OrNull(document->fileDigest) : nlohmann::ordered_json();
    entry["file_bytes"] = inspector && inspector->FileSeen()
                              ? nlohmann::ordered_json(inspector->FileBytes())
                              : nlohmann::ordered_json();
    entry["md5"] = inspector ? OrNull(inspector->FileMd5()) : nlohmann::ordered_json();
    entry["digest_check"] =
        inspector && inspector->DigestMatches()
            ? nlohmann::ordered_json(*inspector->DigestMatches() ? "match" : "mismatch")
            : nlohmann::ordered_json();
    entry["error"] = inspector ? OrNull(inspector->Error()) : nlohmann::ordered_json();
    entry["faults"] = exchange.faultNames;
    entry["status"] =
        exchange.responded ? nlohmann::ordered_json(exchange.status) : nlohmann::ordered_json();
    entry["answer"] = exchange.answer;
    entry["reason"] = OrNull(exchange.reason);
    entry["note"] = OrNull(exchange.note);
    if (exchange.replayed) {
        entry["replay_line"] = exchange.replayed->line
                                   ? nlohmann::ordered_json(exchange.replayed->line)
                                   : nlohmann::ordered_json();
    }
    entry["restart_ms"] =
        exchange.restartMs ? nlohmann::ordered_json(*exchange.restartMs) : nlohmann::ordered_json();
    entry["termination"] = OrNull(exchange.termination);
    entry["duration_ms"] =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - exchange.started)
            .count();
    log_.Write(std::move(entry));
    if (exchange.restartMs) {
        log_.Write({{"event", "restart"},
                    {"device", exchange.device->Host()},
                    {"down_ms", *exchange.restartMs}});
    }
    Count(exchange.device, exchange);
}

void CDeviceServer::Count(const CSimulatedDevice* device, const Exchange& exchange) {
    if (device == nullptr) {
        return;
    }
    std::lock_guard lock(countersMutex_);
    DeviceCounters& counters = counters_[device];
    ++counters.requests;
    if (exchange.classified) {
        ++counters.byKind[std::string(RequestKindName(exchange.kind))];
    }
    counters.faults += static_cast<int>(exchange.faultNames.size());
    if (exchange.dropped) {
        ++counters.dropped;
    } else if (exchange.answer == "accepted") {
        ++counters.accepted;
    } else if (exchange.answer == "refused" && exchange.kind != RequestKind::Priming) {
        ++counters.refused;
    } else if (exchange.status == MHD_HTTP_UNAUTHORIZED && exchange.answer == "challenge") {
        ++counters.challenges;
    } else if (exchange.responded && exchange.status != MHD_HTTP_OK) {
        ++counters.otherStatus;
    }
    if (exchange.restartMs) {
        ++counters.restarts;
    }
}

}  // namespace talbo::tesk::vorta::devsim
