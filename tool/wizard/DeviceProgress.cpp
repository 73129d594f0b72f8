#include "tool/wizard/DeviceProgress.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <string>

#include "engine/interface/CUpdateModelExport.h"
#include "tool/wizard/CDeviceListView.h"

namespace tv = talbo::tesk::vorta;

int ProgressFromText(const wchar_t* text) {
    if (text == nullptr) {
        return 0;
    }
    const long value = std::wcstol(text, nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

int DeviceProgress(tv::CUpdateModelExport* model, const CDeviceListView& list, int row) {
    if (tv::CDevInfoIF* device = list.Rows().Device(row)) {
        return ProgressFromText(device->GetValue(L"progress"));
    }
    if (model == nullptr) {
        return -1;
    }
    return model->GetProgress(list.Text(row, 0).toStdWString().c_str());
}

tv::CDevInfoIF* DeviceRecord(tv::CUpdateModelExport* model, const CDeviceListView& list, int row) {
    if (tv::CDevInfoIF* device = list.Rows().Device(row)) {
        return device;
    }
    return model != nullptr ? model->GetDeviceInfo(list.Text(row, 0).toStdWString().c_str())
                            : nullptr;
}
