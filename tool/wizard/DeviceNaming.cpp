#include "tool/wizard/DeviceNaming.h"

#include "common/HostName.h"
#include "engine/interface/CHostNameIterator.h"
#include "engine/interface/CUpdateModelExport.h"
#include "tool/wizard/WizardText.h"

namespace tv = talbo::tesk::vorta;
namespace common = talbo::tesk::vorta::common;

namespace {

// A message box stays readable with this many lines of dropped names.
constexpr qsizetype kDroppedLinesShown = 10;

const wchar_t* NumericSpellingKey(common::ENumericSpelling kind) {
    switch (kind) {
        case common::ENumericSpelling::SingleNumber:
            return L"STR-334";
        case common::ENumericSpelling::FewerParts:
            return L"STR-333";
        case common::ENumericSpelling::Hexadecimal:
            return L"STR-332";
        case common::ENumericSpelling::LeadingZero:
            break;
    }
    return L"STR-331";
}

}  // namespace

std::optional<QString> NumericSpellingText(const std::wstring& name) {
    if (!common::IsValidHostName(name)) {
        return std::nullopt;
    }
    const std::optional<common::SNumericSpelling> numeric = common::NumericSpelling(name);
    if (!numeric) {
        return std::nullopt;
    }
    return UIText(NumericSpellingKey(numeric->kind))
        .arg(ToQString(name), ToQString(numeric->address), ToQString(numeric->suggestion));
}

CDeviceSpellings::CDeviceSpellings(tv::CUpdateModelExport& model) : m_model(model) {
    for (tv::CHostNameIterator it = model.GetHostNameIterator(); it.Current() != nullptr;
         it.Next()) {
        const std::wstring name(it.Current());
        m_byKey.try_emplace(common::HostKey(name), name);
    }
}

const std::wstring* CDeviceSpellings::Find(const std::wstring& name) const {
    const auto it = m_byKey.find(common::HostKey(name));
    return it != m_byKey.end() ? &it->second : nullptr;
}

bool CDeviceSpellings::Register(const std::wstring& name) {
    if (!m_model.AddDevice(name.c_str())) {
        return false;
    }
    m_byKey.try_emplace(common::HostKey(name), name);
    return true;
}

bool RegisterListNames(tv::CUpdateModelExport& model,
                       const std::vector<common::NumberedName>& names, QStringList& dropped) {
    CDeviceSpellings spellings(model);
    for (const common::NumberedName& entry : names) {
        if (const std::wstring* known = spellings.Find(entry.name)) {
            if (*known != entry.name) {
                dropped.push_back(UIText(L"STR-337")
                                      .arg(QString::number(entry.line), ToQString(entry.name),
                                           ToQString(*known)));
            }
            continue;
        }
        if (!spellings.Register(entry.name)) {
            return false;
        }
    }
    return true;
}

QString DroppedNamesText(const QStringList& dropped) {
    QString text = UIText(L"STR-336");
    for (qsizetype i = 0; i < dropped.size() && i < kDroppedLinesShown; ++i) {
        text += QLatin1Char('\n') + dropped[i];
    }
    if (dropped.size() > kDroppedLinesShown) {
        text += QLatin1Char('\n') +
                UIText(L"STR-338").arg(QString::number(dropped.size() - kDroppedLinesShown));
    }
    return text;
}
