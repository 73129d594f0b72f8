#pragma once
// The faults a device has been told to show: each names the requests it applies to (kind,
// part, from which occurrence, how many times) and what the device does instead of its normal
// answer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace talbo::tesk::vorta::devsim {

enum class RequestKind { Priming, GetInformation, ChangeMode, Update, Unknown };

std::string_view RequestKindName(RequestKind kind);

enum class FaultAction {
    Status,          // answer with an HTTP status (401 with a challenge)
    Delay,           // wait, then answer normally
    Drop,            // close the connection in the middle of the upload
    Stall,           // stop reading or answering, for a time or until the simulator stops
    MalformedXml,    // the answer is not well-formed XML
    SchemaInvalid,   // well-formed, but not of the response schema
    NonUtf8,         // the answer is not UTF-8
    Oversized,       // the answer is larger than a client accepts
    Body,            // the answer is the given text
    Refuse,          // success "false" with the given reason
    Busy,            // another application keeps the device busy
    NoComeback,      // the next restart never ends
    ComebackStatus,  // after the next restart the device reports the given status
    KeepFirmware,    // the next update that completes accepts every part but keeps the firmware
};

struct Fault {
    std::optional<RequestKind> on;  // none: every request, the empty priming one included
    std::string part;               // part name or number; empty: any part
    int occurrence = 1;             // the first matching request that shows it
    int times = 1;                  // how many matching requests show it; 0: all from then on
    FaultAction action = FaultAction::Status;
    int code = 500;                           // Status
    int ms = 0;                               // Delay, Stall (0: until the simulator stops)
    std::optional<std::uint64_t> afterBytes;  // Drop, Stall: body bytes read first
    std::uint64_t bytes = (1u << 20) + 4096;  // Oversized
    std::string text;                         // Body; Refuse: the reason; ComebackStatus: status
    std::string appName;                      // Busy, Refuse AnotherApp, ComebackStatus AnotherApp
    std::string progress;                     // ComebackStatus Broken

    std::string Describe() const;
};

// Reads one fault from its JSON form; nullopt with an error text when it is not valid.
std::optional<Fault> FaultFromJson(const nlohmann::json& value, std::string& error);

// Not thread-safe: the device that owns it serialises the calls.
class CFaultScript {
public:
    CFaultScript() = default;
    explicit CFaultScript(std::vector<Fault> faults);

    // Counts the request against every fault that matches it and returns those that fire.
    std::vector<Fault> Fire(RequestKind kind, std::string_view partName, int partNumber);
    bool Empty() const { return faults_.empty(); }

private:
    struct Entry {
        Fault fault;
        int seen = 0;
        int fired = 0;
    };
    std::vector<Entry> faults_;
};

}  // namespace talbo::tesk::vorta::devsim
