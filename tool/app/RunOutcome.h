#pragma once
// How one device's command-line run ends: its exit code and the result text that the log and
// the batch's output show. The single run and the batch both end devices through these, so a
// device ends the same way whichever of them rewrote it.

#include <string>

namespace talbo::tesk::vorta {

struct SRunOutcome {
    int exitCode;
    std::wstring detail;
};

// The communication test ended with a negative progress value.
SRunOutcome TestFailedOutcome(int progress);
// The rewrite ended with a progress value of 100 or a negative one.
SRunOutcome RewriteOutcome(int progress);
// A stop signal ended the run before the device did.
SRunOutcome InterruptedOutcome();

}  // namespace talbo::tesk::vorta
