#pragma once
// The arguments of a command typed at a shell, split at its blanks as the shell would: the tool
// takes its arguments as the system hands them over, and tables of typed commands read better.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace shell {

inline std::vector<std::wstring> Args(std::wstring_view typed) {
    std::vector<std::wstring> arguments;
    std::size_t pos = 0;
    while ((pos = typed.find_first_not_of(L' ', pos)) != std::wstring_view::npos) {
        const std::size_t end = std::min(typed.find(L' ', pos), typed.size());
        arguments.emplace_back(typed.substr(pos, end - pos));
        pos = end;
    }
    return arguments;
}

}  // namespace shell
