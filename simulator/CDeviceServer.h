#pragma once
// The HTTP side of the simulator on libmicrohttpd. In proxy mode one listener serves every
// device: a request's absolute URI (or its Host header) names the device, and a name that is no
// device gets the 502 a proxy gives for a dead host. In direct mode every device has a listener
// of its own on its loopback address. One thread per connection, so that a device that delays
// or stalls holds only its own exchange.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "simulator/CEventLog.h"
#include "simulator/CSimulatedDevice.h"
#include "simulator/CStopToken.h"
#include "simulator/DeviceSettings.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace talbo::tesk::vorta::devsim {

struct DeviceCounters {
    int requests = 0;
    std::map<std::string, int> byKind;
    int accepted = 0;
    int refused = 0;
    int otherStatus = 0;  // answers other than 200 (challenges excluded)
    int challenges = 0;
    int dropped = 0;
    int restarts = 0;
    int faults = 0;
};

class CDeviceServer {
public:
    CDeviceServer(std::vector<std::unique_ptr<CSimulatedDevice>>& devices, CEventLog& log,
                  CStopToken& stop);
    ~CDeviceServer();
    CDeviceServer(const CDeviceServer&) = delete;
    CDeviceServer& operator=(const CDeviceServer&) = delete;

    // Proxy mode: one listener at address. Direct mode: one per device at its own address.
    bool StartProxy(const ListenAddress& address, std::string& error);
    bool StartDirect(std::string& error);
    void Stop();

    // The addresses actually bound (port 0 resolved): ("proxy", address) or (host, address).
    std::vector<std::pair<std::string, ListenAddress>> Bound() const;
    DeviceCounters Counters(const CSimulatedDevice& device);

    struct Listener;
    struct Exchange;

    // Entry points for the HTTP library's callbacks.
    int Access(Listener& listener, MHD_Connection* connection, const char* url, const char* method,
               const char* uploadData, std::size_t* uploadSize, void** context);
    void Completed(Exchange& exchange, int termination);
    bool AcceptConnection(const Listener& listener);

private:
    bool StartListener(const ListenAddress& address, CSimulatedDevice* device, std::string& error);
    CSimulatedDevice* FindDevice(std::string_view host) const;

    int BeginExchange(Listener& listener, MHD_Connection* connection, const char* url,
                      const char* method, Exchange& exchange);
    int EndExchange(MHD_Connection* connection, Exchange& exchange);
    // The answer of a replayed device (the trace's, or a 502 once the client left the trace).
    int RespondReplayed(MHD_Connection* connection, Exchange& exchange);
    void Classify(Exchange& exchange);
    int Respond(MHD_Connection* connection, Exchange& exchange, int status, const std::string& body,
                const std::string& challenge);
    void LogExchange(Exchange& exchange);
    void Count(const CSimulatedDevice* device, const Exchange& exchange);

    std::vector<std::unique_ptr<CSimulatedDevice>>& devices_;
    std::map<std::string, CSimulatedDevice*> byHost_;  // lower-case host name
    CEventLog& log_;
    CStopToken& stop_;
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::mutex countersMutex_;
    std::map<const CSimulatedDevice*, DeviceCounters> counters_;
};

}  // namespace talbo::tesk::vorta::devsim
