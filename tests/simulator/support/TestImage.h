#pragma once
// Small update images for tests, written here from the image format on its own: the header
// lines, section E with the steps, Z_1 with the total, 0xFF, then each block and its marker.

#include <string>
#include <vector>

#include "common/StandInImageLayout.h"

namespace devsim_test {

struct TestStep {
    std::string name;
    int number = 0;
    std::string data;
};

inline constexpr const char* kTestAfterVersion = talbo::tesk::vorta::common::kStandInVersion;

// The eleven steps of the carried image with small pseudo-random blocks (distinct sizes).
std::vector<TestStep> CarriedStepsSmall();
std::string ImageBytes(const std::vector<TestStep>& steps,
                       const std::string& version = kTestAfterVersion);
std::string PseudoRandomBytes(std::size_t size, unsigned seed);

}  // namespace devsim_test
