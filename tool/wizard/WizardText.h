#pragma once

#include <QString>

#include <optional>
#include <string>

namespace talbo::tesk::vorta {
class CDevInfoIF;
}

// The interface text of a key ("STR-", "FSTR-" or "MSG-"), ready for a widget.
QString UIText(const wchar_t* key);
// The interface text for an engine result code.
QString UIResultText(int resultCode);

inline QString ToQString(const std::wstring& text) {
    return QString::fromStdWString(text);
}
inline std::wstring ToWString(const QString& text) {
    return text.toStdWString();
}

class QWidget;

// Names a control for assistive technologies (screen readers, the accessibility bus) with a
// visible text, without the "&" that marks its keyboard shortcut.
void SetAccessibleText(QWidget& control, const QString& text);

// A device value copied out of the engine at once (a later value may replace the text), or
// nothing when the device has no value for the key.
std::optional<QString> DeviceValue(talbo::tesk::vorta::CDevInfoIF* device, const wchar_t* key);
