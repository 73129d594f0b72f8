#include "tool/wizard/WizardText.h"

#include <QWidget>

#include "engine/interface/CDevInfoIF.h"
#include "tool/app/CUIStringTable.h"

namespace tv = talbo::tesk::vorta;

QString UIText(const wchar_t* key) {
    return ToQString(tv::CUIStringTable::GetInstance().GetText(key));
}

QString UIResultText(int resultCode) {
    return ToQString(tv::CUIStringTable::GetInstance().GetResultText(resultCode));
}

std::optional<QString> DeviceValue(tv::CDevInfoIF* device, const wchar_t* key) {
    if (device == nullptr) {
        return std::nullopt;
    }
    const wchar_t* value = device->GetValue(key);
    if (value == nullptr) {
        return std::nullopt;
    }
    return QString::fromWCharArray(value);
}

void SetAccessibleText(QWidget& control, const QString& text) {
    QString name;
    name.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        // "&&" stands for one "&"; a single "&" only marks the next character as the shortcut.
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
        }
        name.append(text[i]);
    }
    control.setAccessibleName(name);
}
