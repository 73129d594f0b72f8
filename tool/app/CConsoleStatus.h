#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace talbo::tesk::vorta {

// One live status line on standard error while a command-line rewrite runs, because a rewrite
// takes minutes. Silent unless standard error is a terminal, so scripts and logs see nothing.
class CConsoleStatus {
public:
    explicit CConsoleStatus(std::FILE* stream = stderr);
    // For tests: a stream that counts as a terminal or not.
    CConsoleStatus(std::FILE* stream, bool terminal);
    ~CConsoleStatus();

    CConsoleStatus(const CConsoleStatus&) = delete;
    CConsoleStatus& operator=(const CConsoleStatus&) = delete;

    bool Enabled() const { return enabled; }

    // A new phase ("communication test", "loading the update image", "rewriting firmware").
    void Phase(const std::wstring& host, const std::wstring& phase);
    // The phase's progress; a value that stays unchanged for a while reads as a wait for the
    // device (it is restarting, or a large part is on its way).
    void Progress(int percent);
    // A message the operator must see: printed on its own line even when the stream is not a
    // terminal; a live status line is drawn again below it.
    void Notice(const std::wstring& text);
    // Ends the line with the run's result text.
    void Finish(const std::wstring& result);

private:
    void Draw();

    std::FILE* stream;
    bool enabled;
    bool drawn = false;
    std::wstring host;
    std::wstring phase;
    int percent = -1;
    std::chrono::steady_clock::time_point phaseStart;
    std::chrono::steady_clock::time_point lastChange;
};

}  // namespace talbo::tesk::vorta
