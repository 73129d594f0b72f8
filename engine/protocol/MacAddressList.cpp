#include "engine/protocol/MacAddressList.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>

namespace talbo::tesk::vorta {

namespace {

std::mutex readerMutex;
InterfaceTableReader currentReader;

std::wstring FormatMacAddress(const std::array<std::uint8_t, 6>& bytes) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            text += L':';
        }
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

void CollectMacAddresses(const std::vector<CInterfaceRow>& rows, std::vector<std::wstring>& list) {
    list.clear();
    for (const CInterfaceRow& row : rows) {
        std::array<std::uint8_t, 6> bytes{};
        std::copy_n(row.hardwareAddress.begin(), std::min(row.hardwareAddress.size(), bytes.size()),
                    bytes.begin());
        if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) {
            continue;
        }
        std::wstring text = FormatMacAddress(bytes);
        if (std::find(list.begin(), list.end(), text) == list.end()) {
            list.push_back(std::move(text));
        }
    }
}

bool ReadPlatformInterfaceTable(std::vector<CInterfaceRow>& rows) {
    rows.clear();
    ifaddrs* first = nullptr;
    if (getifaddrs(&first) != 0) {
        return false;
    }
    std::vector<std::pair<int, CInterfaceRow>> indexed;
    for (const ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        const std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof link->sll_addr);
        indexed.emplace_back(link->sll_ifindex,
                             CInterfaceRow{{link->sll_addr, link->sll_addr + length}});
    }
    freeifaddrs(first);
    std::stable_sort(indexed.begin(), indexed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [index, row] : indexed) {
        rows.push_back(std::move(row));
    }
    return true;
}

InterfaceTableReader SetInterfaceTableReader(InterfaceTableReader reader) {
    std::lock_guard lock(readerMutex);
    return std::exchange(currentReader, std::move(reader));
}

void GetMacAddressList(std::vector<std::wstring>& list) {
    list.clear();
    try {
        InterfaceTableReader reader;
        {
            std::lock_guard lock(readerMutex);
            reader = currentReader;
        }
        std::vector<CInterfaceRow> rows;
        const bool read = reader ? reader(rows) : ReadPlatformInterfaceTable(rows);
        if (read) {
            CollectMacAddresses(rows, list);
        }
    } catch (...) {
        list.clear();
    }
}

}  // namespace talbo::tesk::vorta
