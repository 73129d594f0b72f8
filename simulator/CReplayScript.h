#pragma once
// A device that answers as a recorded trace says: the client's trace of one device (JSON lines,
// one "exchange" line per round trip, written by the update tool when VORTA_TRACE_DIR is set)
// becomes the list of answers the device gives, in order. Each round trip's answer is its
// recorded HTTP status and body; a round trip that ended without an answer (the client
// reported an error before a response head) is a connection closed without one. The probes of
// a restart wait are round trips like any other, so a device that was down answers "down" again
// exactly where it did.
//
// The client's own resends are part of a recorded round trip: a connection that died under a
// request that the client then sent again is dropped again before the recorded answer, and when
// the replay closes a reused connection where the recording did not expect the client to send
// again, that one resend is absorbed too. Authentication rounds are not in the trace; the device
// demands its credentials as any simulated device does, and a request refused for them is never
// matched against the trace.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "simulator/CFaultScript.h"

namespace talbo::tesk::vorta::devsim {

struct ReplayStep {
    std::size_t line = 0;  // line number in the trace file (from 1)
    RequestKind kind = RequestKind::Unknown;
    std::string part;  // the part the client named, for the log
    std::optional<long long> partNumber;
    int probe = 0;              // the probe of a restart wait it belongs to (0: none)
    int dropsBefore = 0;        // connections that died under the request before its answer
    std::optional<int> status;  // none: the connection closed without an answer
    std::string body;           // the answer, as long as it was (padded past the excerpt kept)
};

struct ReplayAnswer {
    enum class Outcome {
        Answer,     // status and body as recorded
        Drop,       // close the connection without an answer
        Diverged,   // the client sent another kind of request than the trace holds next
        Exhausted,  // every recorded round trip has been served
    };
    Outcome outcome = Outcome::Exhausted;
    int status = 0;
    std::string body;
    std::size_t line = 0;  // the trace line it comes from (0 when none)
    bool probe = false;    // the round trip was a probe of a restart wait
    std::string note;      // what was matched, for the event log
};

class CReplayScript {
public:
    // job: only the round trips of that job of the trace (from 1); all of them when none.
    // Null with an error text when the trace cannot be read: no line of the file is cut but its
    // last one (a killed run), all lines name one host, every exchange line is complete.
    static std::shared_ptr<CReplayScript> FromText(const std::string& text, std::optional<int> job,
                                                   std::string& error);
    static std::shared_ptr<CReplayScript> FromFile(const std::filesystem::path& path,
                                                   std::optional<int> job, std::string& error);

    const std::string& Host() const { return host_; }
    const std::vector<ReplayStep>& Steps() const { return steps_; }

    // The answer to a request of this kind. reusedConnection: an earlier request came on the
    // same connection, so a client that gets no answer sends this one again by itself.
    ReplayAnswer Take(RequestKind kind, bool reusedConnection);
    // What Take would give now, without serving it.
    ReplayAnswer::Outcome Peek(RequestKind kind, bool reusedConnection);
    // How many recorded round trips have been served.
    std::size_t Served();

private:
    CReplayScript() = default;
    ReplayAnswer Decide(RequestKind kind, bool reusedConnection, bool serve);

    std::string host_;
    std::vector<ReplayStep> steps_;
    std::mutex mutex_;
    std::size_t next_ = 0;
    int dropsServed_ = 0;
    // The kind of the request whose final drop came on a reused connection: the client sends
    // it once more on a new one, and that resend belongs to the same recorded round trip.
    std::optional<RequestKind> absorbResend_;
};

}  // namespace talbo::tesk::vorta::devsim
