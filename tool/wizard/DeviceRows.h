#pragma once

#include <initializer_list>

namespace talbo::tesk::vorta {
class CUpdateModelExport;
}
class CDeviceListView;
class CDeviceRecords;

// What a refresh does with the check boxes of rows that were there before.
enum class ECheckSync {
    CheckOnly,  // a row is checked when its device is a target, never unchecked
    BothWays,   // every row shows whether its device is a target
};

// Brings a device list up to the engine's devices: walks the host names in registration order
// with a row counter, inserts a row at the counter for every device that has none yet (host name,
// then the device's values for columnKeys), and sets check boxes as sync says; a new row shows
// the device's "update" value as it is, without reporting it back as a change. Consecutive new
// rows go into the list as one insertion. Returns the number of rows added.
// Records are found through records.
int RefreshDeviceRows(talbo::tesk::vorta::CUpdateModelExport& model, CDeviceRecords& records,
                      CDeviceListView& list, std::initializer_list<const wchar_t*> columnKeys,
                      ECheckSync sync);

// Sets every row's check box from its device's "update" value, walking the engine's host names
// in registration order with a row counter.
void SyncDeviceChecks(talbo::tesk::vorta::CUpdateModelExport& model, CDeviceRecords& records,
                      CDeviceListView& list);
