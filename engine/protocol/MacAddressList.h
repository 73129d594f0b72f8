#pragma once
// The MAC addresses of this computer, which name it in every request document.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace talbo::tesk::vorta {

// One network interface as the platform lists it.
struct CInterfaceRow {
    std::vector<std::uint8_t> hardwareAddress;
};

// Fills the rows in the platform's stable interface order; false when there is no table.
using InterfaceTableReader = std::function<bool(std::vector<CInterfaceRow>& rows)>;

// Empties list, then appends the distinct, non-zero addresses of the interfaces in table order,
// each as six upper-case hexadecimal pairs joined by ':'. An empty list: no usable address.
void GetMacAddressList(std::vector<std::wstring>& list);

// The same from a given table: the first six bytes of each address (missing bytes count as
// zero), all-zero addresses skipped, duplicates dropped.
void CollectMacAddresses(const std::vector<CInterfaceRow>& rows, std::vector<std::wstring>& list);

// The packet-level (AF_PACKET) entries of getifaddrs in interface-index order.
bool ReadPlatformInterfaceTable(std::vector<CInterfaceRow>& rows);

// Replaces the table GetMacAddressList reads (tests); an empty reader restores the platform's.
// Returns the reader that was in place.
InterfaceTableReader SetInterfaceTableReader(InterfaceTableReader reader);

}  // namespace talbo::tesk::vorta
