#include "tool/session/RolloutOptions.h"

#include <algorithm>

namespace talbo::tesk::vorta {

namespace {

constexpr int kMaxCount = 100000;
constexpr int kMaxRetryMinutes = 24 * 60;

// A plain decimal from 1 to max, without sign or leading zeros.
std::optional<int> PositiveNumber(std::wstring_view text, int max) {
    if (text.empty() || text.size() > 6 || text.front() == L'0') {
        return std::nullopt;
    }
    int value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - L'0');
    }
    return value <= max ? std::optional<int>(value) : std::nullopt;
}

// "N" (1 to 100000) or "P%" (1 to 100).
std::optional<SDeviceShare> ParseShare(std::wstring_view text) {
    if (text.ends_with(L'%')) {
        const std::optional<int> percent = PositiveNumber(text.substr(0, text.size() - 1), 100);
        return percent ? std::optional<SDeviceShare>({*percent, true}) : std::nullopt;
    }
    const std::optional<int> count = PositiveNumber(text, kMaxCount);
    return count ? std::optional<SDeviceShare>({*count, false}) : std::nullopt;
}

std::optional<std::vector<SDeviceShare>> ParseWaves(std::wstring_view text) {
    std::vector<SDeviceShare> waves;
    for (std::size_t pos = 0;;) {
        const std::size_t comma = text.find(L',', pos);
        const std::optional<SDeviceShare> share =
            ParseShare(text.substr(pos, comma == std::wstring_view::npos ? comma : comma - pos));
        if (!share) {
            return std::nullopt;
        }
        waves.push_back(*share);
        if (comma == std::wstring_view::npos) {
            return waves;
        }
        pos = comma + 1;
    }
}

}  // namespace

int SDeviceShare::Of(int total) const {
    if (!percent) {
        return value;
    }
    return static_cast<int>((static_cast<long long>(total) * value + 99) / 100);
}

bool SRolloutOptions::AnyGiven() const {
    return !waves.empty() || maxFailures || retryBusyMinutes > 0 || dryRun || json ||
           !reportFile.empty();
}

int TakeRolloutOption(const std::vector<std::wstring_view>& tokens, std::size_t index,
                      SRolloutOptions& options, std::wstring& error) {
    const std::wstring_view name = tokens[index];
    const bool hasValue = index + 1 < tokens.size();
    const std::wstring_view value = hasValue ? tokens[index + 1] : std::wstring_view();
    const std::wstring quoted = L"\"" + std::wstring(name) + L"\"";
    const auto refuse = [&](const std::wstring& why) {
        error = why;
        return -1;
    };
    const auto flag = [&](bool& set) {
        if (set) {
            return refuse(quoted + L" is given twice");
        }
        set = true;
        return 1;
    };
    if (name == L"--dry-run") {
        return flag(options.dryRun);
    }
    if (name == L"--json") {
        return flag(options.json);
    }
    if (name == L"--waves") {
        if (!options.waves.empty()) {
            return refuse(quoted + L" is given twice");
        }
        const std::optional<std::vector<SDeviceShare>> waves =
            hasValue ? ParseWaves(value) : std::nullopt;
        if (!waves) {
            return refuse(L"invalid " + quoted +
                          L": give cumulative sizes as counts or percentages, as in --waves "
                          L"1,10%,100%");
        }
        options.waves = *waves;
        return 2;
    }
    if (name == L"--max-failures") {
        if (options.maxFailures) {
            return refuse(quoted + L" is given twice");
        }
        options.maxFailures = hasValue ? ParseShare(value) : std::nullopt;
        if (!options.maxFailures) {
            return refuse(L"invalid " + quoted +
                          L": give a count or a percentage, as in "
                          L"--max-failures 2 or --max-failures 5%");
        }
        return 2;
    }
    if (name == L"--retry-busy") {
        const std::optional<int> minutes =
            hasValue ? PositiveNumber(value, kMaxRetryMinutes) : std::nullopt;
        if (options.retryBusyMinutes > 0) {
            return refuse(quoted + L" is given twice");
        }
        if (!minutes) {
            return refuse(L"invalid " + quoted + L": give the minutes to keep trying, 1 to " +
                          std::to_wstring(kMaxRetryMinutes) + L", as in --retry-busy 30");
        }
        options.retryBusyMinutes = *minutes;
        return 2;
    }
    if (name == L"--report") {
        if (!options.reportFile.empty()) {
            return refuse(quoted + L" is given twice");
        }
        // A value like "-d" is far likelier a forgotten file name than a file called so.
        if (!hasValue || value.empty() || value.starts_with(L"-")) {
            return refuse(L"invalid " + quoted +
                          L": give the CSV file to write, as in "
                          L"--report rollout.csv (a name starting with \"-\" as ./-name)");
        }
        options.reportFile = value;
        return 2;
    }
    return 0;
}

std::vector<int> WaveSizes(const std::vector<SDeviceShare>& waves, int total) {
    std::vector<int> sizes;
    int assigned = 0;
    for (const SDeviceShare& wave : waves) {
        const int upTo = std::min(wave.Of(total), total);
        if (upTo > assigned) {
            sizes.push_back(upTo - assigned);
            assigned = upTo;
        }
    }
    if (assigned < total) {
        sizes.push_back(total - assigned);
    }
    return sizes;
}

int FailureLimit(const SRolloutOptions& options, int total) {
    if (options.maxFailures) {
        return std::max(1, options.maxFailures->Of(total));
    }
    return options.waves.empty() ? 0 : 1;
}

}  // namespace talbo::tesk::vorta
