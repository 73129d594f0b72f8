// The result log's INI reader and writer: an existing log of any content gets one more record.
// Whatever the file held, the new record must read back afterwards: a lost record would hide
// the outcome of a run.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "common/IniFile.h"
#include "tool/app/CResultLog.h"

namespace tv = talbo::tesk::vorta;
using vorta_fuzz::Require;

namespace {

constexpr wchar_t kToday[] = L"2026/12/09";
constexpr int kResult = -14;
constexpr wchar_t kDetail[] = L"Failed to recognize this device.";

bool IsRecordNumber(const std::wstring& text) {
    return text.size() == 3 && text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = vorta_fuzz::WriteScratchFile(data, size);
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
    return 0;
}
