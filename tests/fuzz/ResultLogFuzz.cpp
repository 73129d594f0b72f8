// The result log's INI reader and writer: an existing log of any content gets one more record.
// Whatever the file held, the new record must read back afterwards: a lost record would hide
// the outcome of a run.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "common/IniFile.h"
#include "tool/cli/CResultLog.h"

namespace tv = talbo::tesk::vorta;
using vorta_fuzz::Require;

namespace {

constexpr wchar_t kToday[] = L"2026/12/09";
constexpr int kResult = -14;
// The Japanese text of result -14: a log in single-byte text cannot hold it as it stands.
constexpr wchar_t kDetail[] =
    L"\u6B63\u5E38\u306B\u6A5F\u5668\u3092\u8A8D\u8B58\u3067\u304D\u307E\u305B\u3093\u3067"
    L"\u3057\u305F\u3002";

bool IsRecordNumber(const std::wstring& text) {
    return text.size() == 3 && text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

struct Record {
    std::wstring section;
    std::optional<std::wstring> result;
    std::optional<std::wstring> detail;
};

// The record LAST_POS names, if it names one.
std::optional<Record> NewestRecord(const tv::common::IniDocument& doc) {
    const auto date = doc.Get(L"LAST_POS", L"DATE");
    const auto number = doc.Get(L"LAST_POS", L"NO");
    if (!date || !number) {
        return std::nullopt;
    }
    Record record{*date + L"-" + *number, {}, {}};
    record.result = doc.Get(record.section, L"Result");
    record.detail = doc.Get(record.section, L"Detail");
    return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = vorta_fuzz::WriteScratchFile(data, size);
    const auto before = tv::common::IniFile::Load(path);
    Require(before.has_value(), "the scratch file reads");
    const std::optional<Record> previous = NewestRecord(before->Document());

    tv::CResultLog::WriteDated(path, kResult, kDetail, kToday);

    const auto log = tv::common::IniFile::Load(path);
    Require(log.has_value(), "the log reads back");
    const tv::common::IniDocument& doc = log->Document();
    Require(doc.Get(L"LAST_POS", L"DATE") == kToday, "LAST_POS names today");
    const std::wstring number = doc.Get(L"LAST_POS", L"NO").value_or(L"");
    Require(IsRecordNumber(number), "LAST_POS names a record number of three digits");
    const std::wstring section = std::wstring(kToday) + L"-" + number;
    Require(doc.Get(section, L"Result") == std::to_wstring(kResult), "the record has its result");
    Require(doc.Get(section, L"Detail") == kDetail, "the record has its detail");
    // The record that was newest stays as it was, unless the new record went into its section.
    if (previous && !tv::common::EqualsAsciiNoCase(previous->section, section)) {
        Require(doc.Get(previous->section, L"Result") == previous->result &&
                    doc.Get(previous->section, L"Detail") == previous->detail,
                "the previous record keeps its values");
    }
    return 0;
}
