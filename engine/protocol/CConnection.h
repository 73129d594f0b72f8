#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/model/ByteSequence.h"

namespace talbo::tesk::vorta {

class CExchangeObserver;
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
    // Closes whatever is open and frees what the exchange built or received.
    virtual void Close() = 0;
    // Closes, and puts every setting back to what a new connection of this kind starts with;
    // the stop signal stays. Lets the owner keep one connection object per device instead of
    // making a new one for every exchange.
    virtual void Reset() { Close(); }
    // 0 when the request (document plus the part's bytes, if any) was sent completely.
    virtual int Send(const std::wstring& document, const CUpdateImagePart* part) = 0;
    // The HTTP status (200 with the whole body in bytes); -1 on failure; 1 when nothing is open.
    virtual int Receive(ByteSequence& bytes) = 0;
    // 0, or -1 when a time-out is refused.
    virtual int SetTimeout(std::uint32_t milliseconds) = 0;

    // A signal (shared, not owned; it outlives the connection) that cuts an exchange in
    // progress: Open and Send then fail within about a second of it being raised.
    void SetStopSignal(const CStopSignal* signal) { stopSignal = signal; }

    // An observer told about every round trip from the next Open on (shared: it may outlive the
    // connection); null, the default, observes nothing and costs nothing.
    void SetExchangeObserver(std::shared_ptr<CExchangeObserver> newObserver) {
        observer = std::move(newObserver);
    }

protected:
    bool StopRequested() const;

    std::unique_ptr<CRequestBuilder> builder;
    const CStopSignal* stopSignal = nullptr;
    std::shared_ptr<CExchangeObserver> observer;
};

}  // namespace talbo::tesk::vorta
