#pragma once
// The tool's process exit codes, spelled in this one place. A shell sees the low eight bits
// (-100 as 156, -200 as 56, -300 as 212).

namespace talbo::tesk::vorta {

inline constexpr int kExitRewritten = 0;
inline constexpr int kExitSameVersion = 1;
inline constexpr int kExitNewerSkipped = 2;
inline constexpr int kExitUnsupportedSystem = -1;
inline constexpr int kExitAlreadyRunning = -2;
// The host name was refused, the communication test failed, or the image could not be loaded.
inline constexpr int kExitTestFailed = -100;
// The rewrite could not start, failed on the device, or the run was interrupted.
inline constexpr int kExitRewriteFailed = -200;
// The temporary folder, a carried file other than the image, or the engine could not be
// prepared, or the carried engine or image is not what the build recorded.
inline constexpr int kExitStartupFailed = -300;

// How severe a run's code is, for the one code of a batch of runs: -300, -200, -100, 2, 1, 0
// from the most severe down (0 only when every device was rewritten). Other codes rank as 0.
constexpr int ExitSeverity(int code) {
    switch (code) {
        case kExitStartupFailed:
            return 5;
        case kExitRewriteFailed:
            return 4;
        case kExitTestFailed:
            return 3;
        case kExitNewerSkipped:
            return 2;
        case kExitSameVersion:
            return 1;
        default:
            return 0;
    }
}

}  // namespace talbo::tesk::vorta
