#pragma once
// The step layout of the stand-in update image the build writes when no real image is given:
// eleven steps of one block each, in image order, and the version they update to. The image
// writer writes it, the simulator expects it from devices started without an image, and test
// fakes offer it as their image. The engine never reads this table: it takes its plan from the
// image it loads, so a changed or real image needs no change there.

#include <array>
#include <cstdint>

namespace talbo::tesk::vorta::common {

struct StandInStep {
    const char* name;
    int number;          // the step number written into the header
    std::uint64_t size;  // length of the step's only block, in bytes
};

inline constexpr const char* kStandInVersion = "Ver.3.01TC";

inline constexpr std::array<StandInStep, 11> kStandInSteps = {{
    {"BackupSettingValue", 1, 30904352},
    {"ReChangeMode", 2, 1056},
    {"CopyWritableRegion", 3, 18135072},
    {"WriteUpdateBootStrap", 4, 20512},
    {"Reboot", 5, 10272},
    {"ReChangeMode", 6, 1056},
    {"WriteNewKernel", 7, 2447392},
    {"WriteNewRootfs", 8, 31733792},
    {"WriteNewWritableRegion", 9, 4290592},
    {"WriteNewSnapShot", 10, 23214112},
    {"WriteNewBootStrap", 11, 20512},
}};

// Sum of all block sizes: the total the header's last line states.
inline constexpr std::uint64_t kStandInTotalSize = [] {
    std::uint64_t total = 0;
    for (const StandInStep& step : kStandInSteps) {
        total += step.size;
    }
    return total;
}();

}  // namespace talbo::tesk::vorta::common
