// VortaFWUpdateTool: the wizard without arguments, the command-line rewrite with them, and the
// --help and --version texts.
#include <QApplication>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tool/app/CVortaFWUpdateToolUIApp.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/ExitCodes.h"
#include "tool/cli/CommandLineHelp.h"
#include "tool/wizard/WizardApplication.h"

namespace talbo::tesk::vorta {
std::span<const CarriedBlob> GeneratedCarriedBlobs();
}

namespace {

// Without any window system the toolkit would abort; say what to do instead.
bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

// Writes the text to standard output; 0 when it got there whole.
int PrintAndEnd(const std::string& text) {
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    namespace tv = talbo::tesk::vorta;
    // A closed standard stream would hand its number to the next file opened, which would then
    // take the tool's output or input (a started script, a pipe, the result log).
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
    // A reader that goes away (| head, a killed tee) must never end a run between two firmware
    // parts: writes to a closed output fail with EPIPE instead, and every writer drops them.
    static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
    tv::SetCarriedBlobTable(tv::GeneratedCarriedBlobs());
    // No host name starts with "-", so these two never shadow a device.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        return PrintAndEnd(tv::UsageText());
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        return PrintAndEnd(tv::VersionText());
    }
    tv::CVortaFWUpdateToolUIApp app;
    const std::vector<std::wstring> arguments = tv::Arguments(argc, argv);
    // Only the wizard needs a display; the command-line rewrite runs without one.
    std::unique_ptr<QApplication> gui;
    if (arguments.empty()) {
        if (!HasDisplay()) {
            // Nothing was done, and a script must not read that as success.
            static_cast<void>(
                std::fprintf(stderr,
                             "VortaFWUpdateTool: no display for the wizard; to rewrite one device "
                             "from the command line, run: VortaFWUpdateTool [-d] HOST (see "
                             "--help)\n"));
            return tv::kExitStartupFailed;
        }
        gui = CreateWizardApplication(argc, argv);
        InstallWizard(app);
    }
    return app.Run(arguments);
}
