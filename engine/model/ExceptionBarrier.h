#pragma once
// Exported operations must never let an exception reach the host: an allocation failure or a
// failed lock becomes the operation's failure value.

#include <utility>

namespace talbo::tesk::vorta {

template <typename Result, typename Body>
Result CallOrFail(Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

}  // namespace talbo::tesk::vorta
