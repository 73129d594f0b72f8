#pragma once

namespace talbo::tesk::vorta {
class CDevInfoIF;
class CUpdateModelExport;
}  // namespace talbo::tesk::vorta
class CDeviceListView;

// The progress of a row's device as GetProgress gives it: 0 to 100, or a negative result code.
//
// Read from the device's own record (its "progress" value) where the row has one: GetProgress
// finds a device by its name, and polling thousands of rows by name every 250 ms would cost
// time in proportion to the whole fleet for every row. The record's value reads the same: the
// number at the start of the text, 0 when there is none.
int DeviceProgress(talbo::tesk::vorta::CUpdateModelExport* model, const CDeviceListView& list,
                   int row);

// The number at the start of a progress text (white space, an optional sign, digits); 0 when
// there is none.
int ProgressFromText(const wchar_t* text);

// The engine's record of a row's device: the one the row keeps, else looked up by host name;
// null when the engine has none.
talbo::tesk::vorta::CDevInfoIF* DeviceRecord(talbo::tesk::vorta::CUpdateModelExport* model,
                                             const CDeviceListView& list, int row);
