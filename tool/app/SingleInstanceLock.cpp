#include "tool/app/SingleInstanceLock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace talbo::tesk::vorta {

namespace {

// Abstract socket address: a leading NUL, then the name (not NUL-terminated). Abstract names
// have no owner or permissions, so the user id in the name keeps users from taking each
// other's lock; the holder still checks who connects.
socklen_t MakeAddress(const std::string& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string full =
        "VortaFWUpdateTool-instance:" + std::to_string(::geteuid()) + ":" + name;
    const std::size_t length = std::min(full.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, full.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           length == sizeof peer && peer.uid == ::geteuid();
}

}  // namespace

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_un address{};
    const socklen_t length = MakeAddress(name, address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return;
    }
    listenFd = fd;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (listenFd >= 0) {
        ::close(listenFd);
    }
}

bool SingleInstanceLock::AskHolderToRaise(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    const socklen_t length = MakeAddress(name, address);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
              ::send(fd, &kRaiseRequest, 1, MSG_NOSIGNAL) == 1;
    ::close(fd);
    return ok;
}

int SingleInstanceLock::AcceptRequester() {
    if (listenFd < 0) {
        return -1;
    }
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    if (!PeerIsThisUser(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

SingleInstanceLock::Request SingleInstanceLock::ReadRequest(int socket) {
    char request = 0;
    const ssize_t n = ::recv(socket, &request, 1, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return Request::Pending;
    }
    return n == 1 && request == kRaiseRequest ? Request::Raise : Request::Closed;
}

bool SingleInstanceLock::AcceptRaiseRequest() {
    const int fd = AcceptRequester();
    if (fd < 0) {
        return false;
    }
    const bool raise = ReadRequest(fd) == Request::Raise;
    ::close(fd);
    return raise;
}

}  // namespace talbo::tesk::vorta
