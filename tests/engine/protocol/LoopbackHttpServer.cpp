#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace vorta_test {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string CapturedRequest::Field(const std::string& name) const {
    const std::string wanted = Lower(name) + ":";
    std::size_t start = head.find("\r\n");
    while (start != std::string::npos && start + 2 < head.size()) {
        const std::size_t end = head.find("\r\n", start + 2);
        const std::string line = head.substr(start + 2, end - start - 2);
        if (Lower(line.substr(0, wanted.size())) == wanted) {
            std::string value = line.substr(wanted.size());
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
        start = end;
    }
    return "";
}

bool CapturedRequest::HasField(const std::string& name) const {
    return Lower(head).find("\r\n" + Lower(name) + ":") != std::string::npos;
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler(std::move(handler)) {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(stopPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("loopback server set-up failed");
    }
    port = ntohs(address.sin_port);
    thread = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    const char stop = 'x';
    (void)!::write(stopPipe[1], &stop, 1);
    thread.join();
    ::close(listener);
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
}

std::vector<CapturedRequest> LoopbackHttpServer::Requests() const {
    std::lock_guard lock(mutex);
    return requests;
}

bool LoopbackHttpServer::WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
    }
    return (fds[1].revents & POLLIN) == 0;
}

void LoopbackHttpServer::Serve() {
    while (WaitReadable(listener)) {
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        const bool goOn = ServeConnection(connection);
        ::close(connection);
        if (!goOn) {
            return;
        }
    }
}

// False when the server is stopping.
bool LoopbackHttpServer::ServeConnection(int connection) {
    std::string buffer;
    char chunk[65536];
    for (;;) {
        CapturedRequest request;
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!WaitReadable(connection)) {
                return false;
            }
            const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return true;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        request.head = buffer.substr(0, headEnd + 4);
        buffer.erase(0, headEnd + 4);
        const std::size_t space = request.head.find(' ');
        request.method = request.head.substr(0, space);
        request.target =
            request.head.substr(space + 1, request.head.find(' ', space + 1) - space - 1);
        if (Lower(request.Field("Expect")) == "100-continue" &&
            !SendAll(connection, "HTTP/1.1 100 Continue\r\n\r\n")) {
            return true;
        }
        const std::string declared = request.Field("Content-Length");
        const std::size_t length = declared.empty() ? 0 : std::stoul(declared);
        while (buffer.size() < length) {
            if (!WaitReadable(connection)) {
                return false;
            }
            const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return true;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);
        int index;
        {
            std::lock_guard lock(mutex);
            index = static_cast<int>(requests.size());
            requests.push_back(request);
        }
        const Reply reply = handler(request, index);
        if (!SendAll(connection, reply.bytes)) {
            return true;
        }
        if (reply.stall) {
            // Hold the connection without a word until the server stops.
            while (WaitReadable(connection)) {
                if (::recv(connection, chunk, sizeof chunk, 0) <= 0) {
                    return true;
                }
            }
            return false;
        }
        if (reply.close) {
            return true;
        }
    }
}

ScopedEnv::ScopedEnv(const char* variable, const char* value) : name(variable) {
    if (const char* current = std::getenv(variable)) {
        had = true;
        old = current;
    }
    if (value != nullptr) {
        ::setenv(variable, value, 1);
    } else {
        ::unsetenv(variable);
    }
}

ScopedEnv::~ScopedEnv() {
    if (had) {
        ::setenv(name.c_str(), old.c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

}  // namespace vorta_test
