#include "tool/app/CarriedVersions.h"

#include <algorithm>

#include "common/IniDocument.h"
#include "common/Utf8.h"
#include "tool/app/CarriedBlobs.h"

namespace talbo::tesk::vorta {

namespace {

// The header ends at the separator byte; an image whose first 64 KiB hold none has no header
// worth reading.
constexpr std::size_t kMaxHeaderBytes = std::size_t{64} * 1024;
constexpr std::uint8_t kHeaderSeparator = 0xFF;

}  // namespace

std::string ToolVersion() {
    return VORTA_TOOL_VERSION;
}

std::wstring CarriedImageVersion() {
    const CarriedBlob* image = FindCarriedBlob(kBlobTypeUpdateFile, kBlobUpdateImage);
    if (image == nullptr) {
        return {};
    }
    const auto head = image->bytes.first(std::min(image->bytes.size(), kMaxHeaderBytes));
    const auto separator = std::find(head.begin(), head.end(), kHeaderSeparator);
    if (separator == head.end()) {
        return {};
    }
    // The header is single-byte text.
    const std::string header(head.begin(), separator);
    const common::IniDocument document = common::IniDocument::Parse(common::BytesToWide(header));
    return document.Get(L"E", L"7").value_or(L"");
}

}  // namespace talbo::tesk::vorta
