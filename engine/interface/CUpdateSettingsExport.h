#pragma once

namespace talbo::tesk::vorta {

// The most devices a job may work on at once.
inline constexpr int kMaxDevicesAtATime = 64;

// Settings of the engine's jobs as the host sees them. The slot order below is the binary
// contract with hosts; the object belongs to the library, like the model and the controller.
class CUpdateSettingsExport {
public:
    virtual ~CUpdateSettingsExport() = default;  // never called by the host

    // How many devices a job works on at once, 1 to 64 (1: one after the other, in
    // registration order). False, and nothing changed, while a job runs (or the model is
    // being changed) or for a value out of range.
    virtual bool SetDevicesAtATime(int devices) = 0;
    virtual int GetDevicesAtATime() = 0;
};

}  // namespace talbo::tesk::vorta
