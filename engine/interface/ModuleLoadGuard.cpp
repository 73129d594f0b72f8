#include "engine/interface/ModuleLoadGuard.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace talbo::tesk::vorta {

bool CModuleLoadGuard::Acquire() noexcept {
    if (Held()) {
        return true;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    // An abstract address starts with a zero byte and is as long as the length says; it lives
    // in no file system, so nothing is left behind.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    constexpr std::size_t kNameLength = sizeof(kName) - 1;
    static_assert(kNameLength + 1 <= sizeof(address.sun_path));
    std::memcpy(address.sun_path + 1, kName, kNameLength);
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + kNameLength);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd);  // EADDRINUSE: another process holds the library
        return false;
    }
    socketFd = fd;
    return true;
}

void CModuleLoadGuard::Release() noexcept {
    if (socketFd >= 0) {
        ::close(socketFd);
        socketFd = -1;
    }
}

}  // namespace talbo::tesk::vorta
