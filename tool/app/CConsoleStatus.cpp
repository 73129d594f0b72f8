#include "tool/app/CConsoleStatus.h"

#include <unistd.h>

#include "common/Utf8.h"

namespace talbo::tesk::vorta {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWaitingAfter = std::chrono::seconds(10);

std::string Narrow(const std::wstring& text) {
    return common::EncodeUtf8(text).value_or(common::AsciiToNarrow(text));
}

}  // namespace

std::wstring CConsoleStatus::ElapsedText(Clock::duration duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    wchar_t buffer[32];
    std::swprintf(buffer, 32, L"%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return buffer;
}

CConsoleStatus::CConsoleStatus(std::FILE* stream)
    : CConsoleStatus(stream, stream != nullptr && ::isatty(::fileno(stream)) == 1) {}

CConsoleStatus::CConsoleStatus(std::FILE* stream, bool terminal)
    : stream(stream), enabled(terminal && stream != nullptr) {}

CConsoleStatus::~CConsoleStatus() {
    if (enabled && drawn) {
        std::fputs("\n", stream);
        std::fflush(stream);
    }
}

void CConsoleStatus::Phase(const std::wstring& newHost, const std::wstring& newPhase) {
    host = newHost;
    phase = newPhase;
    percent = -1;
    phaseStart = lastChange = Clock::now();
    Draw();
}

void CConsoleStatus::Progress(int value) {
    if (value != percent) {
        percent = value;
        lastChange = Clock::now();
    }
    Draw();
}

void CConsoleStatus::Finish(const std::wstring& result) {
    if (!enabled) {
        return;
    }
    std::fprintf(stream, "\r\x1b[K%s: %s\n", Narrow(host).c_str(), Narrow(result).c_str());
    std::fflush(stream);
    drawn = false;
}

void CConsoleStatus::Notice(const std::wstring& text) {
    if (stream == nullptr) {
        return;
    }
    std::fprintf(stream, "%s%s\n", enabled && drawn ? "\r\x1b[K" : "", Narrow(text).c_str());
    std::fflush(stream);
    if (drawn) {
        DrawText(lastLine);
    }
}

void CConsoleStatus::Draw() {
    if (!enabled) {
        return;
    }
    const auto now = Clock::now();
    std::wstring line = host + L": " + phase;
    if (percent >= 0) {
        line += L" " + std::to_wstring(percent) + L"%";
    }
    line += L" (" + ElapsedText(now - phaseStart) + L")";
    if (percent >= 0 && now - lastChange >= kWaitingAfter) {
        line += L", waiting for the device";
    }
    DrawText(line);
}

void CConsoleStatus::Line(const std::wstring& text) {
    host.clear();
    phase.clear();
    if (enabled) {
        DrawText(text);
    }
}

void CConsoleStatus::Clear() {
    if (enabled && drawn) {
        std::fputs("\r\x1b[K", stream);
        std::fflush(stream);
        drawn = false;
    }
}

void CConsoleStatus::Keep() {
    if (enabled && drawn) {
        std::fputs("\n", stream);
        std::fflush(stream);
        drawn = false;
    }
}

void CConsoleStatus::DrawText(const std::wstring& line) {
    // Return to the line's start and clear it, so the line is redrawn in place.
    std::fprintf(stream, "\r\x1b[K%s", Narrow(line).c_str());
    std::fflush(stream);
    drawn = true;
    lastLine = line;
}

}  // namespace talbo::tesk::vorta
