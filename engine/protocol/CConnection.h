#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/model/ByteSequence.h"

namespace talbo::tesk::vorta {

class CRequestBuilder;
class CStopSignal;
class CUpdateImagePart;

// One HTTP exchange with one device: Open, Send, Receive. Receive closes everything, so every
// exchange begins with its own Open. Owns its request builder.
class CConnection {
public:
    explicit CConnection(std::unique_ptr<CRequestBuilder> builder);
    virtual ~CConnection();

    // 0 when the connection to the device is ready, -1 otherwise.
    virtual int Open() = 0;
    // Closes whatever is open.
    virtual void Close() = 0;
    // 0 when the request (document plus the part's bytes, if any) was sent completely.
    virtual int Send(const std::wstring& document, const CUpdateImagePart* part) = 0;
    // The HTTP status (200 with the whole body in bytes); -1 on failure; 1 when nothing is open.
    virtual int Receive(ByteSequence& bytes) = 0;
    // 0, or -1 when a time-out is refused.
    virtual int SetTimeout(std::uint32_t milliseconds) = 0;

    // A signal (shared, not owned; it outlives the connection) that cuts an exchange in
    // progress: Open and Send then fail within about a second of it being raised.
    void SetStopSignal(const CStopSignal* signal) { stopSignal = signal; }

protected:
    bool StopRequested() const;

    std::unique_ptr<CRequestBuilder> builder;
    const CStopSignal* stopSignal = nullptr;
};

}  // namespace talbo::tesk::vorta
