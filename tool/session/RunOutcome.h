#pragma once
// How a device's run ends for every front end: its outcome class (the exit code a command-line
// run of this device alone gives) and the result text that the log, the device lines, the
// reports and the wizard's rows show. One table holds every rule, so the single run, the batch
// and both wizard pages end a device the same way.

#include <string>

#include "engine/interface/ResultCodes.h"  // IsBusyResult

namespace talbo::tesk::vorta {

// Which job the device's final progress value came from.
enum class EEndPhase {
    Test,     // the communication test: 100 passed, a negative code failed it
    Rewrite,  // the update job: 100 or a negative code
};

struct SRunOutcome {
    int exitCode;
    std::wstring detail;
};

// The outcome of a device whose progress ended with this value in this phase. A passed test is
// class 0 with the text of a success.
SRunOutcome ClassifyEnd(EEndPhase phase, int progress);

// The communication test ended with a negative progress value.
inline SRunOutcome TestFailedOutcome(int progress) {
    return ClassifyEnd(EEndPhase::Test, progress);
}
// The rewrite ended with a progress value of 100 or a negative one.
inline SRunOutcome RewriteOutcome(int progress) {
    return ClassifyEnd(EEndPhase::Rewrite, progress);
}
// A stop signal ended the run before the device did.
SRunOutcome InterruptedOutcome();

}  // namespace talbo::tesk::vorta
