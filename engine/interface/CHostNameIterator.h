#pragma once

#include <utility>

namespace talbo::tesk::vorta {

// Iterator over a snapshot of host names, created and destroyed inside the library.
class CHostNameIteratorImpl {
public:
    virtual ~CHostNameIteratorImpl() = default;
    // A new, independent iterator over its own copy of the snapshot, at the same position.
    virtual CHostNameIteratorImpl* Clone() = 0;
    // Destroys the iterator inside the library.
    virtual void Release() = 0;
    // Moves to the next name; does nothing when already past the last one.
    virtual CHostNameIteratorImpl& Next() = 0;
    // The current host name, or null once past the last one.
    virtual const wchar_t* Current() = 0;
};

// Holder of exactly one iterator; releases it when destroyed. Copies clone the iterator.
class CHostNameIterator {
public:
    explicit CHostNameIterator(CHostNameIteratorImpl* impl = nullptr) noexcept : impl(impl) {}
    CHostNameIterator(const CHostNameIterator& other)
        : impl(other.impl != nullptr ? other.impl->Clone() : nullptr) {}
    CHostNameIterator(CHostNameIterator&& other) noexcept
        : impl(std::exchange(other.impl, nullptr)) {}
    CHostNameIterator& operator=(CHostNameIterator other) noexcept {
        std::swap(impl, other.impl);
        return *this;
    }
    ~CHostNameIterator() {
        if (impl != nullptr) {
            impl->Release();
        }
    }

    CHostNameIteratorImpl* operator->() const noexcept { return impl; }
    CHostNameIteratorImpl* Get() const noexcept { return impl; }

    // Null-safe walking: a holder without an iterator is already past the end.
    const wchar_t* Current() const { return impl != nullptr ? impl->Current() : nullptr; }
    CHostNameIterator& Next() {
        if (impl != nullptr) {
            impl->Next();
        }
        return *this;
    }

private:
    CHostNameIteratorImpl* impl;
};

}  // namespace talbo::tesk::vorta
