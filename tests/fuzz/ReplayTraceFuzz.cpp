// The simulator's reading of a client's trace (--replay), and the answers it then gives to
// whatever requests come.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "simulator/CReplayScript.h"

namespace ds = talbo::tesk::vorta::devsim;
using vorta_fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the job and drives the requests; the rest is the trace.
    const std::uint8_t control = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string error;
    const std::optional<int> job =
        (control & 3) == 0 ? std::nullopt : std::optional<int>(control & 3);
    const auto script = ds::CReplayScript::FromText(text, job, error);
    Require((script != nullptr) == error.empty(), "a trace is read or refused with a reason");
    if (!script) {
        return 0;
    }
    Require(!script->Steps().empty(), "a trace replays at least one round trip");
    Require(!script->Host().empty(), "a trace names its device");
    const ds::RequestKind kinds[] = {ds::RequestKind::Priming, ds::RequestKind::GetInformation,
                                     ds::RequestKind::ChangeMode, ds::RequestKind::Update};
    std::size_t served = 0;
    // More requests than the trace can answer: it must end in "exhausted", never loop.
    for (std::size_t i = 0; i < 4 * script->Steps().size() + 40; ++i) {
        const std::uint8_t byte = data[i % size];
        const ds::ReplayAnswer answer =
            script->Take(kinds[(byte >> 2) & 3], ((byte ^ control) & 1) != 0);
        Require(answer.outcome != ds::ReplayAnswer::Outcome::Answer ||
                    (answer.status >= 100 && answer.status <= 599),
                "a replayed status is an HTTP status");
        Require(script->Served() >= served, "a replay never goes back");
        served = script->Served();
    }
    Require(served <= script->Steps().size(), "a replay serves each round trip once at most");
    return 0;
}
