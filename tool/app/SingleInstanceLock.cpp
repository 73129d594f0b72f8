#include "tool/app/SingleInstanceLock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace talbo::tesk::vorta {

namespace {

// Abstract socket address: a leading NUL, then the name (not NUL-terminated).
socklen_t MakeAddress(const std::string& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string full = "VortaFWUpdateTool-instance:" + name;
    const std::size_t length = std::min(full.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, full.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
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

bool SingleInstanceLock::AcceptRaiseRequest() {
    if (listenFd < 0) {
        return false;
    }
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // The asking process writes its one byte before it closes; wait for it briefly.
    timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char request = 0;
    const bool raise = ::recv(fd, &request, 1, 0) == 1 && request == kRaiseRequest;
    ::close(fd);
    return raise;
}

}  // namespace talbo::tesk::vorta
