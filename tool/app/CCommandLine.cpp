#include "tool/app/CCommandLine.h"

#include <vector>

namespace talbo::tesk::vorta {

void CCommandLine::Parse(std::wstring_view argumentText) {
    std::vector<std::wstring_view> tokens;
    std::size_t pos = 0;
    while (tokens.size() < 2) {
        pos = argumentText.find_first_not_of(L' ', pos);
        if (pos == std::wstring_view::npos) {
            break;
        }
        const std::size_t end = argumentText.find(L' ', pos);
        tokens.push_back(argumentText.substr(pos, end == std::wstring_view::npos ? end : end - pos));
        pos = end;
    }
    const std::wstring_view t1 = tokens.empty() ? std::wstring_view() : tokens[0];
    const std::wstring_view t2 = tokens.size() < 2 ? std::wstring_view() : tokens[1];
    if (t1 == L"-d") {
        m_strPolicy = L"update";
        m_strHostName = t2;
    } else if (t2 == L"-d") {
        m_strPolicy = L"update";
        m_strHostName = t1;
    } else {
        m_strPolicy = L"skip";
        m_strHostName = t1;
    }
}

}  // namespace talbo::tesk::vorta
