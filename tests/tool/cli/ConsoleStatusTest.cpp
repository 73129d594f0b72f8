#include "tool/cli/CConsoleStatus.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tv = talbo::tesk::vorta;

namespace {

std::string Captured(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

}  // namespace

TEST(ConsoleStatus, DrawsOneLineInPlaceOnATerminal) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        tv::CConsoleStatus status(file, true);
        status.Phase(L"device-1", L"rewriting the firmware");
        status.Progress(41);
        status.Finish(L"Success");
    }
    const std::string text = Captured(file);
    std::fclose(file);
    EXPECT_NE(text.find("\r\x1b[Kdevice-1: rewriting the firmware 41% (0:00)"), std::string::npos);
    const std::string last = "\r\x1b[Kdevice-1: Success\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST(ConsoleStatus, PrintsNothingWhenNotATerminal) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        tv::CConsoleStatus status(file);  // a plain file is no terminal
        EXPECT_FALSE(status.Enabled());
        status.Phase(L"device-1", L"communication test");
        status.Progress(20);
        status.Finish(L"Failed to communicate.");
    }
    EXPECT_EQ(Captured(file), "");
    std::fclose(file);
}

TEST(ConsoleStatus, NoticesReachEveryStreamAndKeepTheLiveLine) {
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal ? "terminal" : "plain file");
        std::FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        {
            tv::CConsoleStatus status(file, terminal);
            status.Phase(L"device-1", L"rewriting the firmware");
            status.Notice(L"device-1 is in the middle of its update.");
        }
        const std::string text = Captured(file);
        std::fclose(file);
        const std::string notice = "device-1 is in the middle of its update.\n";
        if (terminal) {
            // The live line is cleared, the notice printed, and the line drawn again below.
            EXPECT_NE(text.find("\r\x1b[K" + notice + "\r\x1b[Kdevice-1: rewriting"),
                      std::string::npos)
                << text;
        } else {
            EXPECT_EQ(text, notice);
        }
    }
}

// A batch's summary line is drawn in place, erased before a device's line goes to the same
// terminal, and kept at the end.
TEST(ConsoleStatus, WholeLinesAreDrawnErasedAndKept) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        tv::CConsoleStatus status(file, true);
        status.Line(L"Done 0/2");
        status.Clear();
        status.Clear();  // nothing drawn: nothing to erase
        status.Line(L"Done 2/2");
        status.Keep();
    }
    const std::string text = Captured(file);
    std::fclose(file);
    EXPECT_EQ(text, "\r\x1b[KDone 0/2\r\x1b[K\r\x1b[KDone 2/2\n");
}
