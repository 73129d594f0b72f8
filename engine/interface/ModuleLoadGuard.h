#pragma once

namespace talbo::tesk::vorta {

// The system-wide guard that lets only one process at a time use the engine library: an
// abstract Unix socket bound under a fixed name. The kernel drops the name when the socket is
// closed, also when the process ends in any way, so a crashed holder never blocks later loads.
class CModuleLoadGuard {
public:
    static constexpr char kName[] = "TALBO Vorta Firmware Update Module";

    CModuleLoadGuard() = default;
    CModuleLoadGuard(const CModuleLoadGuard&) = delete;
    CModuleLoadGuard& operator=(const CModuleLoadGuard&) = delete;
    ~CModuleLoadGuard() { Release(); }

    // True when this process now holds the guard; false when another holds it or the socket
    // cannot be made.
    bool Acquire() noexcept;
    void Release() noexcept;
    bool Held() const noexcept { return socketFd >= 0; }

private:
    int socketFd = -1;
};

}  // namespace talbo::tesk::vorta
