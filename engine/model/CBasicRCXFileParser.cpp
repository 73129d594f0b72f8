#include "engine/model/CBasicRCXFileParser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "engine/model/CImageFile.h"

namespace talbo::tesk::vorta {

namespace {

constexpr std::wstring_view kLine1 = L"RCX";
constexpr std::wstring_view kLine2 = L"OKRIM TALBO TalboNet Form";
constexpr std::uint8_t kSeparator = 0xFF;
constexpr std::string_view kMarker = "OKRIM TALBO TalboNet Data";

constexpr std::size_t kVersionCapacity = 256;
constexpr std::size_t kNameCapacity = 255;

// The next line of text from pos (its CR LF or LF removed); nullopt at the end of the text.
std::optional<std::wstring_view> NextLine(std::wstring_view text, std::size_t& pos) {
    if (pos >= text.size()) {
        return std::nullopt;
    }
    std::size_t end = text.find(L'\n', pos);
    const std::size_t next = end == std::wstring_view::npos ? text.size() : end + 1;
    if (end == std::wstring_view::npos) {
        end = text.size();
    }
    std::wstring_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == L'\r') {
        line.remove_suffix(1);
    }
    pos = next;
    return line;
}

}  // namespace

int CBasicRCXFileParser::ParseFile(CUpdateImagePartList& parts) {
    Reset();
    const bool ok = CheckMagic() && ReadSteps() && CheckFraming() && ReadBlocks() && CheckTotal();
    if (!ok) {
        // A failed image must not keep its blocks alive until the next load.
        blocks.clear();
        blocks.shrink_to_fit();
        return -1;
    }
    BuildParts(parts);
    return 0;
}

void CBasicRCXFileParser::Reset() {
    names.clear();
    afterVersions.clear();
    numbers.clear();
    sizes.clear();
    blocks.clear();
    digests.clear();
}

bool CBasicRCXFileParser::CheckMagic() {
    // The magic lines and the keys come from one read of the header.
    const std::optional<std::wstring> text = LoadHeader();
    if (!text) {
        return false;
    }
    std::size_t pos = 0;
    const std::optional<std::wstring_view> line1 = NextLine(*text, pos);
    const std::optional<std::wstring_view> line2 = NextLine(*text, pos);
    return line1 == kLine1 && line2 == kLine2;
}

bool CBasicRCXFileParser::ReadSteps() {
    const std::wstring version = ReadProfileString(L"E", L"7", kVersionCapacity);
    if (version.empty()) {
        return false;
    }
    for (int step = 1;; ++step) {
        const std::wstring stepKey = L"7." + std::to_wstring(step);
        const std::wstring name = ReadProfileString(L"E", stepKey, kNameCapacity);
        if (name.empty()) {
            return step > 1;
        }
        const int number = ReadProfileInt(L"E", stepKey + L".0");
        if (number == 0) {
            return false;
        }
        std::vector<std::int32_t> stepSizes;
        for (int block = 1;; ++block) {
            const int size = ReadProfileInt(L"E", stepKey + L"." + std::to_wstring(block));
            if (size == 0) {
                break;
            }
            if (size < 0) {
                return false;
            }
            stepSizes.push_back(size);
        }
        if (stepSizes.empty()) {
            return false;
        }
        const std::wstring numberText = std::to_wstring(number);
        for (std::size_t i = 0; i < stepSizes.size(); ++i) {
            names.push_back(i == 0 ? name : name + std::to_wstring(i));
            afterVersions.push_back(version);
            numbers.push_back(numberText);
            sizes.push_back(stepSizes[i]);
        }
    }
}

std::vector<CParallelBlockReader::Extent> CBasicRCXFileParser::BlockExtents(
    std::int64_t separator) const {
    std::vector<CParallelBlockReader::Extent> extents;
    extents.reserve(sizes.size());
    std::int64_t offset = separator + 1;
    for (const std::int32_t size : sizes) {
        extents.push_back({offset, static_cast<std::size_t>(size)});
        offset += static_cast<std::int64_t>(size) + static_cast<std::int64_t>(kMarker.size());
    }
    return extents;
}

bool CBasicRCXFileParser::CheckFraming() const {
    // Only the markers are read: the offsets come from the sizes, so no block byte is touched.
    const std::optional<CImageFile> file = CImageFile::Open(path);
    if (!file) {
        return false;
    }
    const std::optional<std::int64_t> separator = file->Find(kSeparator);
    if (!separator) {
        return false;
    }
    std::array<char, kMarker.size()> marker{};
    for (const CParallelBlockReader::Extent& extent : BlockExtents(*separator)) {
        const auto markerOffset = extent.offset + static_cast<std::int64_t>(extent.size);
        if (!file->ReadExactAt(markerOffset, marker.data(), marker.size()) ||
            std::memcmp(marker.data(), kMarker.data(), marker.size()) != 0) {
            return false;
        }
    }
    return true;
}

bool CBasicRCXFileParser::ReadBlocks() {
    const std::optional<CImageFile> file = CImageFile::Open(path);
    if (!file) {
        return false;
    }
    const std::optional<std::int64_t> separator = file->Find(kSeparator);
    if (!separator) {
        return false;
    }
    const std::vector<CParallelBlockReader::Extent> extents = BlockExtents(*separator);
    // Each block is followed by its marker, skipped here: the file must still hold the last one.
    if (!extents.empty()) {
        const CParallelBlockReader::Extent& last = extents.back();
        const std::int64_t end = last.offset + static_cast<std::int64_t>(last.size) +
                                 static_cast<std::int64_t>(kMarker.size());
        if (file->Size() < end) {
            return false;
        }
    }
    if (!CParallelBlockReader::Read(*file, extents, blocks, digests)) {
        return false;
    }
    return blocks.size() == names.size();
}

bool CBasicRCXFileParser::CheckTotal() {
    std::uint32_t sum = 0;
    for (const std::int32_t size : sizes) {
        sum += static_cast<std::uint32_t>(size);  // wraps like the header's 32-bit total
    }
    return static_cast<std::uint32_t>(ReadProfileInt(L"Z_1", L"5")) == sum;
}

void CBasicRCXFileParser::BuildParts(CUpdateImagePartList& parts) {
    // Room first, so that once the blocks have moved into parts nothing can fail any more.
    parts.reserve(parts.size() + blocks.size());
    CUpdateImagePartList built;
    built.reserve(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        built.push_back(std::make_unique<CUpdateImagePart>(
            std::move(numbers[i]), std::move(names[i]), std::move(afterVersions[i]),
            std::move(blocks[i]), std::move(digests[i])));
    }
    for (std::unique_ptr<CUpdateImagePart>& part : built) {
        parts.push_back(std::move(part));
    }
}

}  // namespace talbo::tesk::vorta
