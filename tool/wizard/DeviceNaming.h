#pragma once
// How the device page takes names: the tool's name rule (common::HostNameProblem), with the
// reasons for numeric spellings in the interface's language, and one device, one name
// (common::HostKey): a name for a device the engine already holds under another spelling is not
// registered again, so that no job rewrites one device twice at once. A name exactly as the
// engine holds it is left out silently, as the engine itself would.

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/DeviceListFile.h"

namespace talbo::tesk::vorta {
class CUpdateModelExport;
}

// Why name cannot be taken because it spells an IPv4 address in another way than plain dotted
// decimal, in the interface's language; nothing for any other name.
std::optional<QString> NumericSpellingText(const std::wstring& name);

// The spellings of the devices the engine holds, by HostKey: read from the engine once, and
// kept up to date by Register. Main thread only; the model is shared, not owned.
class CDeviceSpellings {
public:
    explicit CDeviceSpellings(talbo::tesk::vorta::CUpdateModelExport& model);

    // The spelling the engine holds name's device by, or null when it holds no such device.
    const std::wstring* Find(const std::wstring& name) const;
    // Registers name with the engine and remembers it; false when the engine refuses it.
    bool Register(const std::wstring& name);

private:
    talbo::tesk::vorta::CUpdateModelExport& m_model;
    std::unordered_map<std::wstring, std::wstring> m_byKey;
};

// Registers the names of an accepted list file in file order, leaving out the names of devices
// already held or named on an earlier line. Each one left out under another spelling adds a
// line to dropped ("Line 3: DUP.INVALID (the same device as dup.invalid)"). False when the
// engine refused a name; the names before it stay registered.
bool RegisterListNames(talbo::tesk::vorta::CUpdateModelExport& model,
                       const std::vector<talbo::tesk::vorta::common::NumberedName>& names,
                       QStringList& dropped);

// The message that names the dropped lines: the first ten of them, then how many more.
QString DroppedNamesText(const QStringList& dropped);
