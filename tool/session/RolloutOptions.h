#pragma once
// The command line's rollout options: waves, the stop rule, busy retries, the dry run and the
// reports. Each is off by default, and then a run does exactly what it did without them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talbo::tesk::vorta {

// A count of devices, or a percentage of the devices a rollout will rewrite (rounded up).
struct SDeviceShare {
    int value = 0;
    bool percent = false;

    // The count this share is of total devices: a percentage rounded up.
    int Of(int total) const;
    bool operator==(const SDeviceShare&) const = default;
};

struct SRolloutOptions {
    // Cumulative wave sizes ("1,10%,100%"); empty: one job over every device.
    std::vector<SDeviceShare> waves;
    // The counted failures that stop the rollout; none: never, except that waves stop at the
    // first.
    std::optional<SDeviceShare> maxFailures;
    int retryBusyMinutes = 0;  // 0: a busy device ends with its busy result at once
    bool dryRun = false;
    bool json = false;        // JSON lines instead of the tab-separated device lines
    std::wstring reportFile;  // CSV written at the end; empty: none

    bool AnyGiven() const;
};

// Takes the option at tokens[index] (and its value, the next token) into options and returns
// how many tokens it used: 0 when tokens[index] is no rollout option ("--waves",
// "--max-failures", "--retry-busy", "--dry-run", "--json", "--report"); -1 when it is one but
// its value is missing or invalid or it was given before, with error set.
int TakeRolloutOption(const std::vector<std::wstring_view>& tokens, std::size_t index,
                      SRolloutOptions& options, std::wstring& error);

// The sizes of the waves for total devices: each entry's count (capped at total) less the
// devices of the waves before it; an entry that adds none makes no wave; devices left after the
// last entry form a last wave. No waves given: one wave of every device. Zero devices: none.
std::vector<int> WaveSizes(const std::vector<SDeviceShare>& waves, int total);

// How many counted failures stop a rollout of total devices: the given share (at least 1),
// else 1 when the rollout runs in waves (a failed canary stops it), else 0 (never).
int FailureLimit(const SRolloutOptions& options, int total);

}  // namespace talbo::tesk::vorta
