#include "imagegen/ImageLayout.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <limits>

#include "common/StandInImageLayout.h"

namespace talbo::tesk::vorta::imagegen {

namespace {

constexpr std::uint64_t kMaxBlockSize = std::numeric_limits<std::int32_t>::max();

bool ParseUnsigned(const std::string& text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// Characters that would break the header's line or key structure, or end it early.
bool IsHeaderSafe(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r' || byte == '\n' || byte == 0xFF || byte == '"' || byte == '\0') {
            return false;
        }
    }
    return true;
}

bool IsNonZeroDecimal(const std::string& text) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end && value != 0;
}

void AppendLine(std::string& header, const std::string& line) {
    header += line;
    header += "\r\n";
}

void AppendKey(std::string& header, const std::string& key, const std::string& value) {
    AppendLine(header, key + "=\"" + value + "\"");
}

}  // namespace

ImageLayout StandInLayout() {
    ImageLayout layout;
    layout.version = common::kStandInVersion;
    for (const common::StandInStep& row : common::kStandInSteps) {
        layout.steps.push_back({row.name, std::to_string(row.number), {{row.size, {}}}});
    }
    return layout;
}

Step ParseStep(const std::string& argument, std::string& error) {
    Step step;
    const std::size_t first = argument.find(':');
    const std::size_t second =
        first == std::string::npos ? std::string::npos : argument.find(':', first + 1);
    if (second == std::string::npos) {
        error = "step \"" + argument + "\" is not NAME:NUMBER:BLOCK[,BLOCK...]";
        return step;
    }
    step.name = argument.substr(0, first);
    step.number = argument.substr(first + 1, second - first - 1);
    std::size_t pos = second + 1;
    while (pos <= argument.size()) {
        std::size_t comma = argument.find(',', pos);
        if (comma == std::string::npos) {
            comma = argument.size();
        }
        const std::string item = argument.substr(pos, comma - pos);
        BlockSource block;
        if (!item.empty() && item.front() == '@') {
            block.path = item.substr(1);
            struct stat info {};
            if (block.path.empty() || ::stat(block.path.c_str(), &info) != 0 ||
                !S_ISREG(info.st_mode)) {
                error = "block file \"" + block.path + "\" cannot be read";
                return step;
            }
            block.size = static_cast<std::uint64_t>(info.st_size);
        } else if (!ParseUnsigned(item, block.size)) {
            error = "block \"" + item + "\" is neither a size nor @PATH";
            return step;
        }
        step.blocks.push_back(block);
        pos = comma + 1;
    }
    return step;
}

std::string Validate(const ImageLayout& layout) {
    if (layout.version.empty() || layout.version.size() > 255 || !IsHeaderSafe(layout.version)) {
        return "the version must be 1 to 255 characters without quotes or line breaks";
    }
    if (layout.steps.empty()) {
        return "an image needs at least one step";
    }
    for (const Step& step : layout.steps) {
        if (step.name.empty() || step.name.size() > 254 || !IsHeaderSafe(step.name)) {
            return "step name \"" + step.name +
                   "\" must be 1 to 254 characters without quotes or line breaks";
        }
        if (!IsNonZeroDecimal(step.number)) {
            return "step number \"" + step.number + "\" is not a non-zero 32-bit integer";
        }
        if (step.blocks.empty()) {
            return "step \"" + step.name + "\" has no blocks";
        }
        for (const BlockSource& block : step.blocks) {
            if (block.size == 0 || block.size > kMaxBlockSize) {
                return "block sizes of step \"" + step.name + "\" must be 1 to 2147483647";
            }
        }
    }
    return {};
}

std::uint64_t TotalSize(const ImageLayout& layout) {
    std::uint64_t total = 0;
    for (const Step& step : layout.steps) {
        for (const BlockSource& block : step.blocks) {
            total += block.size;
        }
    }
    return total;
}

std::string MakeHeader(const ImageLayout& layout) {
    std::string header;
    AppendLine(header, "RCX");
    AppendLine(header, "OKRIM TALBO TalboNet Form");
    AppendLine(header, "[A]");
    AppendKey(header, "1", "1");
    AppendKey(header, "2", "7");
    AppendKey(header, "3", "XelBasic");
    AppendKey(header, "5", "TC");
    AppendLine(header, "[C]");
    AppendKey(header, "1", "1");
    AppendKey(header, "2", "1");
    AppendLine(header, "[E]");
    AppendKey(header, "1", "1");
    AppendKey(header, "2", "400");
    AppendKey(header, "3", "0");
    AppendKey(header, "7", layout.version);
    for (std::size_t n = 0; n < layout.steps.size(); ++n) {
        const Step& step = layout.steps[n];
        const std::string key = "7." + std::to_string(n + 1);
        AppendKey(header, key, step.name);
        AppendKey(header, key + ".0", step.number);
        for (std::size_t m = 0; m < step.blocks.size(); ++m) {
            AppendKey(header, key + "." + std::to_string(m + 1),
                      std::to_string(step.blocks[m].size));
        }
    }
    AppendLine(header, "[Z_1]");
    AppendKey(header, "1", "Firmware");
    AppendKey(header, "3", layout.version);
    AppendKey(header, "4", layout.version);
    AppendKey(header, "5", std::to_string(TotalSize(layout)));
    return header;
}

}  // namespace talbo::tesk::vorta::imagegen
