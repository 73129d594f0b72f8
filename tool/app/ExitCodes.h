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
// prepared.
inline constexpr int kExitStartupFailed = -300;

}  // namespace talbo::tesk::vorta
