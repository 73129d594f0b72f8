#include "tool/app/CConsoleStatus.h"

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
