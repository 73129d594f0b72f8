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
// been lent is never changed or freed while a host may still read it: overwriting it moves it
// to a retired list, which the owner empties (ReleaseRetired) at a moment when no host can
// still hold a pointer into it, the start of the next job. Texts never lent are overwritten in
// place, and writing a value equal to the stored one keeps the stored text, so that polling a
// value that rarely changes does not make the table grow.
//
// Not synchronised: the owner serialises every call.
class CDeviceValueTable {
public:
    CDeviceValueTable() = default;
    CDeviceValueTable(const CDeviceValueTable&) = delete;
    CDeviceValueTable& operator=(const CDeviceValueTable&) = delete;

    // The stored value, or null when the key has none. The pointer is for immediate use only.
    const std::wstring* Find(const std::wstring& key) const;

    // The stored value's characters, or null when the key has none. They stay readable, and
    // unchanged, until the next ReleaseRetired or the table's end, however often the value is
    // overwritten meanwhile.
    const wchar_t* Lend(const std::wstring& key);

    // Inserts or overwrites a value. A lent text being overwritten is retired, not freed; on an
    // allocation failure (std::bad_alloc) the table is as it was.
    void Set(const std::wstring& key, const std::wstring& value);

    // Ends the life of every pointer Lend gave out so far: frees every retired text, and lets
    // the current ones, which stay where they are, be overwritten in place until lent again.
    void ReleaseRetired() noexcept;

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
