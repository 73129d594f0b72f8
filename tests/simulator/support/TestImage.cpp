#include "TestImage.h"

#include <cstdint>

#include "common/StandInImageLayout.h"

namespace devsim_test {

std::string PseudoRandomBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::vector<TestStep> CarriedStepsSmall() {
    std::vector<TestStep> steps;
    unsigned i = 0;
    for (const auto& step : talbo::tesk::vorta::common::kStandInSteps) {
        steps.push_back({step.name, step.number, PseudoRandomBytes(300 + 37 * i, 100 + i)});
        ++i;
    }
    return steps;
}

std::string ImageBytes(const std::vector<TestStep>& steps, const std::string& version) {
    std::string text = "RCX\r\nOKRIM TALBO TalboNet Form\r\n[A]\r\n1=\"1\"\r\n[E]\r\n";
    text += "7=\"" + version + "\"\r\n";
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        std::string key = "7." + std::to_string(i + 1);
        text += key + "=\"" + steps[i].name + "\"\r\n";
        text += key + ".0=\"" + std::to_string(steps[i].number) + "\"\r\n";
        text += key + ".1=\"" + std::to_string(steps[i].data.size()) + "\"\r\n";
        total += steps[i].data.size();
    }
    text += "[Z_1]\r\n5=\"" + std::to_string(total) + "\"\r\n";
    text += '\xFF';
    for (const auto& step : steps) {
        text += step.data;
        text += "OKRIM TALBO TalboNet Data";
    }
    return text;
}

}  // namespace devsim_test
