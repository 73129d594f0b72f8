#include "tool/wizard/CDeviceRecords.h"

#include "engine/interface/CUpdateModelExport.h"

namespace tv = talbo::tesk::vorta;

tv::CDevInfoIF* CDeviceRecords::Find(tv::CUpdateModelExport& model, const wchar_t* host) {
    if (host == nullptr) {
        return nullptr;
    }
    std::wstring key(host);
    if (const auto known = m_records.find(key); known != m_records.end()) {
        return known->second;
    }
    tv::CDevInfoIF* record = model.GetDeviceInfo(host);
    if (record != nullptr) {
        m_records.emplace(std::move(key), record);
    }
    return record;
}
