#include "engine/model/CDeviceValueTable.h"

namespace talbo::tesk::vorta {

const std::wstring* CDeviceValueTable::Find(const std::wstring& key) const {
    const auto found = values.find(key);
    return found != values.end() ? &found->second->text : nullptr;
}

const wchar_t* CDeviceValueTable::Lend(const std::wstring& key) {
    const auto found = values.find(key);
    if (found == values.end()) {
        return nullptr;
    }
    found->second->lent = true;
    return found->second->text.c_str();
}

void CDeviceValueTable::Set(const std::wstring& key, const std::wstring& value) {
    const auto found = values.find(key);
    if (found == values.end()) {
        auto stored = std::make_unique<CStoredText>();
        stored->text = value;
        values.emplace(key, std::move(stored));
        return;
    }
    std::unique_ptr<CStoredText>& current = found->second;
    if (current->text == value) {
        return;
    }
    if (!current->lent) {
        current->text = value;
        return;
    }
    // Allocate the replacement first, so that a failure leaves the lent text where it was.
    // push_back itself leaves the list and its argument untouched when it cannot grow, and
    // grows geometrically: reserving one more each time copied the whole list at every retire.
    auto replacement = std::make_unique<CStoredText>();
    replacement->text = value;
    retired.push_back(std::move(current));
    current = std::move(replacement);
}

void CDeviceValueTable::ReleaseRetired() noexcept {
    // The list's room goes too: how many texts a job retires depends on when the host happened
    // to read, so a kept room would grow to the largest count any job ever reached.
    std::vector<std::unique_ptr<CStoredText>>().swap(retired);
    // No pointer lent before this moment is read any more, so the current texts may again be
    // overwritten in place until they are lent anew.
    for (auto& [key, stored] : values) {
        stored->lent = false;
    }
}

}  // namespace talbo::tesk::vorta
