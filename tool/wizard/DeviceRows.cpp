#include "tool/wizard/DeviceRows.h"

#include <vector>

#include "engine/interface/CUpdateModelExport.h"
#include "tool/wizard/CDeviceListView.h"
#include "tool/wizard/CDeviceRecords.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;

namespace {

// The record of a device: the one its row keeps, else the one found by name.
tv::CDevInfoIF* RecordOf(tv::CUpdateModelExport& model, CDeviceRecords& records,
                         const CDeviceListModel& rows, const wchar_t* name,
                         const QString& nameText) {
    if (tv::CDevInfoIF* known = rows.Device(rows.FindRow(nameText))) {
        return known;
    }
    return records.Find(model, name);
}

bool IsTarget(tv::CDevInfoIF* device) {
    return DeviceValue(device, L"update") == QStringLiteral("true");
}

}  // namespace

int RefreshDeviceRows(tv::CUpdateModelExport& model, CDeviceRecords& records, CDeviceListView& list,
                      std::initializer_list<const wchar_t*> columnKeys, ECheckSync sync) {
    CDeviceListModel& rows = list.Rows();
    std::vector<CDeviceListModel::SRow> pending;
    int pendingAt = 0;
    int added = 0;
    const auto flush = [&] {
        added += static_cast<int>(pending.size());
        rows.InsertRows(pendingAt, std::move(pending));
        pending.clear();
    };

    tv::CHostNameIterator names = model.GetHostNameIterator();
    int row = 0;
    for (const wchar_t* name = names.Current(); name != nullptr; name = names.Next().Current()) {
        const QString nameText = QString::fromWCharArray(name);
        tv::CDevInfoIF* device = RecordOf(model, records, rows, name, nameText);
        if (device != nullptr) {
            const QString host = DeviceValue(device, L"hostname").value_or(nameText);
            if (rows.FindRow(host) < 0) {
                if (pending.empty()) {
                    pendingAt = row;
                }
                CDeviceListModel::SRow& fresh = pending.emplace_back();
                fresh.texts.append(host);
                for (const wchar_t* key : columnKeys) {
                    fresh.texts.append(DeviceValue(device, key).value_or(QString()));
                }
                fresh.device = device;
                fresh.checked = IsTarget(device);
            } else {
                // The rows waiting for insertion sit before this one: insert them first, so the
                // counter points at the right row.
                flush();
                const bool target = IsTarget(device);
                if (target || sync == ECheckSync::BothWays) {
                    rows.SetChecked(row, target);
                }
            }
        }
        ++row;
    }
    flush();
    return added;
}

void SyncDeviceChecks(tv::CUpdateModelExport& model, CDeviceRecords& records,
                      CDeviceListView& list) {
    CDeviceListModel& rows = list.Rows();
    tv::CHostNameIterator names = model.GetHostNameIterator();
    int row = 0;
    for (const wchar_t* name = names.Current(); name != nullptr; name = names.Next().Current()) {
        if (tv::CDevInfoIF* device =
                RecordOf(model, records, rows, name, QString::fromWCharArray(name))) {
            rows.SetChecked(row, IsTarget(device));
        }
        ++row;
    }
}
