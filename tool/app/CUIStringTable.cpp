#include "tool/app/CUIStringTable.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdint>

#include "common/IniFile.h"
#include "engine/interface/ResultCodes.h"

namespace talbo::tesk::vorta {

namespace {

constexpr const wchar_t* kKeys[] = {
    L"STR-000",   L"STR-001",   L"STR-002",   L"STR-003",   L"STR-004",   L"STR-005",
    L"STR-006",   L"STR-007",   L"STR-008",   L"STR-009",   L"STR-010",   L"STR-011",
    L"STR-012",   L"STR-013",   L"STR-014",   L"STR-015",   L"STR-016",   L"STR-017",
    L"STR-019",   L"STR-020",   L"STR-100",   L"STR-300",   L"STR-301",   L"STR-302",
    L"STR-303",   L"STR-304",   L"STR-305",   L"STR-310",   L"STR-311",   L"STR-320",
    L"STR-321",   L"STR-322",   L"STR-323",   L"STR-330",   L"STR-331",   L"STR-332",
    L"STR-333",   L"STR-334",   L"STR-335",   L"STR-336",   L"STR-337",   L"STR-338",
    L"FSTR-0000", L"FSTR-0100", L"FSTR-0101", L"FSTR-0102", L"FSTR-0103", L"FSTR-0104",
    L"FSTR-0105", L"FSTR-0106", L"FSTR-0107", L"FSTR-0118", L"FSTR-0119", L"FSTR-0120",
    L"FSTR-0121", L"FSTR-0122", L"FSTR-0123", L"FSTR-0124", L"FSTR-0125", L"FSTR-0200",
    L"FSTR-0201", L"FSTR-0202", L"FSTR-0203", L"FSTR-0204", L"FSTR-0205", L"FSTR-0206",
    L"FSTR-0207", L"FSTR-0208", L"FSTR-0209", L"FSTR-0300", L"FSTR-0301", L"FSTR-0302",
    L"FSTR-0303", L"FSTR-0304", L"FSTR-0305", L"FSTR-0306", L"FSTR-0307", L"FSTR-0308",
    L"FSTR-0309", L"FSTR-0310", L"FSTR-0311", L"FSTR-0312", L"FSTR-0313", L"FSTR-0314",
    L"FSTR-0315", L"FSTR-0316", L"FSTR-0317", L"FSTR-0318", L"FSTR-0319", L"FSTR-0320",
    L"FSTR-0321", L"FSTR-0322", L"FSTR-0323", L"FSTR-0324", L"FSTR-0325", L"MSG-000",
    L"MSG-100",   L"MSG-101",   L"MSG-102",   L"MSG-103",   L"MSG-104",   L"MSG-200",
    L"MSG-201",   L"MSG-202",   L"MSG-203",   L"MSG-204",   L"MSG-205",
};

constexpr const wchar_t* kLicenceKey = L"FSTR-0102";
constexpr const wchar_t* kSection = L"STRING";
// Values longer than this are cut, as the file format has always allowed no more.
constexpr std::size_t kMaxValueLength = 255;

struct ResultKey {
    int code;
    const wchar_t* key;
};
// The text shown for each result code. The success value and the downgrade question have none:
// hosts show those with texts of their own.
constexpr std::array<ResultKey, 19> kResultKeys = {{
    {kUnknownHostProgress, L"STR-004"},
    {ToInt(EResultCode::SameVersion), L"STR-002"},
    {ToInt(EResultCode::TimeOut), L"STR-004"},
    {ToInt(EResultCode::AnotherUpdating), L"STR-005"},
    {ToInt(EResultCode::Print), L"STR-007"},
    {kReservedPrintProgress, L"STR-007"},
    {ToInt(EResultCode::WebConfig), L"STR-009"},
    {ToInt(EResultCode::WebContents), L"STR-016"},
    {ToInt(EResultCode::Utility), L"STR-011"},
    {ToInt(EResultCode::StatusPrint), L"STR-012"},
    {ToInt(EResultCode::Initialization), L"STR-013"},
    {ToInt(EResultCode::ServerDirectPrint), L"STR-014"},
    {ToInt(EResultCode::StatusNotification), L"STR-015"},
    {ToInt(EResultCode::OtherError), L"STR-006"},
    {ToInt(EResultCode::UpdateSkip), L"STR-003"},
    {ToInt(EResultCode::WebContentsUpdater), L"STR-010"},
    {ToInt(EResultCode::HIDNotification), L"STR-017"},
    {ToInt(EResultCode::VersionNotConfirmed), L"STR-019"},
    {ToInt(EResultCode::NotStarted), L"STR-020"},
}};

common::IniDocument ParseStringFile(std::string_view bytes) {
    common::TextEncoding encoding = common::TextEncoding::Utf16LE;
    return common::IniDocument::Parse(common::DecodeText(bytes, encoding));
}

void ReplaceAll(std::wstring& text, std::wstring_view from, wchar_t to) {
    std::size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::wstring::npos) {
        text.replace(pos, from.size(), 1, to);
        ++pos;
    }
}

// Converts licence bytes to wide text; bytes that do not convert become U+FFFD so that a damaged
// licence file still shows as much of its text as possible.
std::wstring ConvertLicence(const std::string& bytes, CUIStringTable::LicenceEncoding encoding) {
    std::wstring out;
    if (encoding == CUIStringTable::LicenceEncoding::Ascii) {
        out.reserve(bytes.size());
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            out.push_back(b < 0x80 ? static_cast<wchar_t>(b) : L'\uFFFD');
        }
        return out;
    }
    iconv_t cd = ::iconv_open("WCHAR_T", "CP932");
    if (reinterpret_cast<std::intptr_t>(cd) == -1) {  // iconv_open failed
        return out;
    }
    std::string input = bytes;
    char* in = input.data();
    std::size_t inLeft = input.size();
    std::wstring buffer(256, L'\0');
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(buffer.data());
        std::size_t outLeft = buffer.size() * sizeof(wchar_t);
        const std::size_t r = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const std::size_t produced = (buffer.size() * sizeof(wchar_t) - outLeft) / sizeof(wchar_t);
        out.append(buffer.data(), produced);
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out.push_back(L'\uFFFD');  // invalid or cut sequence: skip one byte and go on
            ++in;
            --inLeft;
        }
    }
    ::iconv_close(cd);
    return out;
}

}  // namespace

CUIStringTable& CUIStringTable::GetInstance() {
    static CUIStringTable table;
    return table;
}

void CUIStringTable::LoadDefaults() {
    for (const wchar_t* key : kKeys) {
        texts[key] = key;
    }
    for (const ResultKey& entry : kResultKeys) {
        resultKeys[entry.code] = entry.key;
    }
}

bool CUIStringTable::LoadFile(const std::filesystem::path& path) {
    const auto bytes = common::ReadWholeFile(path);
    LoadTexts(bytes ? ParseStringFile(*bytes) : common::IniDocument());
    return true;
}

void CUIStringTable::LoadBytes(std::string_view bytes) {
    LoadTexts(ParseStringFile(bytes));
}

void CUIStringTable::LoadTexts(const common::IniDocument& file) {
    for (auto& [key, text] : texts) {
        if (key == kLicenceKey) {
            continue;
        }
        std::wstring value = file.Get(kSection, key).value_or(L"");
        if (value.size() > kMaxValueLength) {
            value.resize(kMaxValueLength);
        }
        ReplaceAll(value, L"\\n", L'\n');
        ReplaceAll(value, L"\\t", L'\t');
        text = std::move(value);
    }
}

bool CUIStringTable::LoadLicenceText(const std::filesystem::path& path, LicenceEncoding encoding) {
    texts[kLicenceKey].clear();
    const auto bytes = common::ReadWholeFile(path);
    if (!bytes) {
        return false;
    }
    texts[kLicenceKey] = ConvertLicence(*bytes, encoding);
    return true;
}

std::wstring CUIStringTable::GetText(const std::wstring& key) {
    return texts[key];
}

std::wstring CUIStringTable::GetResultText(int resultCode) {
    const auto it = resultKeys.find(resultCode);
    return it == resultKeys.end() ? std::wstring() : GetText(it->second);
}

}  // namespace talbo::tesk::vorta
