// The update image parser over a whole image file: header, separator, blocks and markers.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "engine/model/CBasicRCXFileParser.h"

namespace tv = talbo::tesk::vorta;
using vorta_fuzz::Require;

namespace {

bool IsDigestText(const std::wstring& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](wchar_t c) {
               return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
           });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring path = vorta_fuzz::WriteScratchFile(data, size).wstring();
    tv::CBasicRCXFileParser parser;
    tv::CUpdateImagePartList parts;
    const int result = parser.Parse(path, parts);
    Require(result == 0 || result == -1, "Parse returns 0 or -1");
    if (result != 0) {
        Require(parts.empty(), "a failed parse appends nothing");
        return 0;
    }
    Require(!parts.empty(), "an accepted image has a block");
    std::size_t blockBytes = 0;
    for (const auto& part : parts) {
        Require(!part->GetName().empty() && !part->GetNumber().empty() &&
                    !part->GetAfterVersion().empty(),
                "every part has a name, a number and a version");
        Require(IsDigestText(part->GetDigest()), "every part has an MD5 digest text");
        blockBytes += part->GetData().size();
    }
    Require(blockBytes < size, "the blocks come from the file's bytes");

    // The same parser reads the same file to the same parts: nothing of the first parse stays.
    tv::CUpdateImagePartList again;
    Require(parser.Parse(path, again) == 0 && again.size() == parts.size(),
            "a second parse gives the same number of parts");
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Require(again[i]->GetName() == parts[i]->GetName() &&
                    again[i]->GetDigest() == parts[i]->GetDigest() &&
                    again[i]->GetData() == parts[i]->GetData(),
                "a second parse gives the same parts");
    }
    return 0;
}
