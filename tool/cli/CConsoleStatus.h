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
    // Draws a whole line of the caller's (a batch's summary of its devices) in place.
    void Line(const std::wstring& text);
    // Erases a drawn line, so that output to another stream sharing the terminal starts at the
    // beginning of an empty line; the next Line or Progress draws it again.
    void Clear();
    // Ends a drawn line where it is, so that it stays above what follows.
    void Keep();

    // A duration as minutes and seconds ("12:05").
    static std::wstring ElapsedText(std::chrono::steady_clock::duration duration);

private:
    void Draw();
    void DrawText(const std::wstring& line);

    std::FILE* stream;
    bool enabled;
    bool drawn = false;
    std::wstring host;
    std::wstring phase;
    std::wstring lastLine;  // as last drawn, to draw again below a notice
    int percent = -1;
    std::chrono::steady_clock::time_point phaseStart;
    std::chrono::steady_clock::time_point lastChange;
};

}  // namespace talbo::tesk::vorta
