#include "tool/cli/CConsoleStatus.h"

#include <unistd.h>

#include "common/Utf8.h"

namespace talbo::tesk::vorta {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWaitingAfter = std::chrono::seconds(10);

std::string Narrow(const std::wstring& text) {
    return common::EncodeUtf8(text).value_or(common::AsciiToNarrow(text));
}

// The status is a courtesy to the operator: a terminal that cannot take it has nobody behind it
// to tell, and the run's result still reaches the exit code and the result log.
void Put(std::FILE* stream, const std::string& text) {
    static_cast<void>(std::fputs(text.c_str(), stream));
    static_cast<void>(std::fflush(stream));
}

}  // namespace

std::wstring CConsoleStatus::ElapsedText(Clock::duration duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    const auto rest = seconds % 60;
    return std::to_wstring(seconds / 60) + (rest >= 0 && rest < 10 ? L":0" : L":") +
           std::to_wstring(rest);
}

CConsoleStatus::CConsoleStatus(std::FILE* stream)
    : CConsoleStatus(stream, stream != nullptr && ::isatty(::fileno(stream)) == 1) {}

CConsoleStatus::CConsoleStatus(std::FILE* stream, bool terminal)
    : stream(stream), enabled(terminal && stream != nullptr) {}

CConsoleStatus::~CConsoleStatus() {
    if (enabled && drawn) {
        Put(stream, "\n");
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
    Put(stream, "\r\x1b[K" + Narrow(host) + ": " + Narrow(result) + "\n");
    drawn = false;
}

void CConsoleStatus::Notice(const std::wstring& text) {
    if (stream == nullptr) {
        return;
    }
    Put(stream, (enabled && drawn ? "\r\x1b[K" : "") + Narrow(text) + "\n");
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
        Put(stream, "\r\x1b[K");
        drawn = false;
    }
}

void CConsoleStatus::Keep() {
    if (enabled && drawn) {
        Put(stream, "\n");
        drawn = false;
    }
}

void CConsoleStatus::DrawText(const std::wstring& line) {
    // Return to the line's start and clear it, so the line is redrawn in place.
    Put(stream, "\r\x1b[K" + Narrow(line));
    drawn = true;
    lastLine = line;
}

}  // namespace talbo::tesk::vorta
