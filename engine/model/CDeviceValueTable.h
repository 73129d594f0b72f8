#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talbo::tesk::vorta {

// The text values of one device, keyed by name in code-unit order.
//
// The host reads values through raw pointers (Lend) and copies the text after the model's lock
// is gone, while the job thread may overwrite the same value at any time. So a text that has
// been lent is never changed or freed: overwriting it moves it to a retired list that lives as
// long as the table. Texts never lent are overwritten in place, and writing a value equal to
// the stored one keeps the stored text, so that polling a value that rarely changes does not
// make the table grow.
//
// Not synchronised: the owner serialises every call.
class CDeviceValueTable {
public:
    CDeviceValueTable() = default;
    CDeviceValueTable(const CDeviceValueTable&) = delete;
    CDeviceValueTable& operator=(const CDeviceValueTable&) = delete;

    // The stored value, or null when the key has none. The pointer is for immediate use only.
    const std::wstring* Find(const std::wstring& key) const;

    // The stored value's characters, readable until the table is destroyed; null when the key
    // has none.
    const wchar_t* Lend(const std::wstring& key);

    void Set(const std::wstring& key, const std::wstring& value);

    // Texts kept alive only because they were lent before being overwritten.
    std::size_t RetiredCount() const noexcept { return retired.size(); }

private:
    struct CStoredText {
        std::wstring text;
        bool lent = false;
    };

    std::map<std::wstring, std::unique_ptr<CStoredText>> values;
    std::vector<std::unique_ptr<CStoredText>> retired;
};

}  // namespace talbo::tesk::vorta
