// The interface string file (ui.lng) and the licence texts as the string table reads them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "tool/app/CUIStringTable.h"

namespace tv = talbo::tesk::vorta;
using vorta_fuzz::Require;

namespace {

// The file format has never allowed longer values; a longer text would not fit the dialogs.
constexpr std::size_t kMaxTextLength = 255;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = vorta_fuzz::WriteScratchFile(data, size);
    tv::CUIStringTable table;
    table.LoadDefaults();
    Require(table.LoadFile(path), "a readable string file loads");
    for (const wchar_t* key : {L"STR-000", L"STR-017", L"FSTR-0000", L"FSTR-0310", L"MSG-000"}) {
        Require(table.GetText(key).size() <= kMaxTextLength, "a text is at most 255 characters");
    }
    for (int code = -20; code <= 2; ++code) {
        Require(table.GetResultText(code).size() <= kMaxTextLength,
                "a result text is at most 255 characters");
    }
    // Licence texts: every byte gives at most one character, whatever it is.
    for (const auto encoding :
         {tv::CUIStringTable::LicenceEncoding::Ascii, tv::CUIStringTable::LicenceEncoding::Cp932}) {
        Require(table.LoadLicenceText(path, encoding), "a readable licence file loads");
        Require(table.GetText(L"FSTR-0102").size() <= size, "a licence byte gives one character");
    }
    return 0;
}
