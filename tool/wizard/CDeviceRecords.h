#pragma once

#include <string>
#include <unordered_map>

namespace talbo::tesk::vorta {
class CDevInfoIF;
class CUpdateModelExport;
}  // namespace talbo::tesk::vorta

// The engine's device records by host name, each looked up once per run of the wizard. The
// engine finds a record by walking all its devices, so thousands of look-ups by name (every
// page filling its list) cost time in proportion to the fleet squared; a record, once found,
// stays valid until the engine is unloaded, which is after the wizard has closed.
class CDeviceRecords {
public:
    // The record of host, or null when the engine has none (not remembered: it may come).
    talbo::tesk::vorta::CDevInfoIF* Find(talbo::tesk::vorta::CUpdateModelExport& model,
                                         const wchar_t* host);

private:
    std::unordered_map<std::wstring, talbo::tesk::vorta::CDevInfoIF*> m_records;
};
