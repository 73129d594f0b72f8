#include "tool/cli/CommandLineHelp.h"

#include "common/Utf8.h"
#include "tool/app/CarriedBlobs.h"
#include "tool/app/CarriedVersions.h"

namespace talbo::tesk::vorta {

namespace {

constexpr const char* kUsage =
    "Usage: VortaFWUpdateTool                     open the wizard\n"
    "       VortaFWUpdateTool [-d] HOST           rewrite one device\n"
    "       VortaFWUpdateTool @LIST [-d] [-jN]    rewrite every device of a list file\n"
    "       (either form also takes the rollout options below)\n"
    "       VortaFWUpdateTool --help | --version\n"
    "\n"
    "Rewrites the firmware of Vorta devices from the update image the tool carries. A run\n"
    "tests each device first; a device that is idle and already runs the image's version is\n"
    "left alone, one with newer firmware is skipped unless -d is given, and one whose update\n"
    "was interrupted is resumed.\n"
    "\n"
    "  HOST       host name or IPv4 address of the device (1 to 254 letters, digits, '.', '-')\n"
    "  -d         rewrite even a device that runs newer firmware or the image's own version;\n"
    "             before or after HOST\n"
    "  @LIST      a file with one host name per line (empty lines skipped)\n"
    "  -jN        with @LIST: N devices at a time, 1 to 64 (default: VORTA_PARALLEL_DEVICES, 1)\n"
    "  --help     show this text\n"
    "  --version  show the versions of the tool, its update image and its engine\n"
    "\n"
    "Rollout options (anywhere among the arguments, each once):\n"
    "  --waves LIST          cumulative waves, counts or percentages of the devices to\n"
    "                        rewrite (1,10%,100%: a canary, a tenth, the rest); a wave starts\n"
    "                        when the one before has ended\n"
    "  --max-failures N|P%   stop at the N-th failed rewrite (default with --waves: 1); devices\n"
    "                        not started end -200 \"not started\"\n"
    "  --retry-busy MINUTES  test busy devices again every minute for up to MINUTES\n"
    "  --dry-run             test only and print what would be done, in which wave\n"
    "  --json                one JSON object per device and a summary on standard output\n"
    "  --report FILE         write the devices' outcomes as CSV to FILE at the end\n"
    "\n"
    "Exit status: 0 rewritten, 1 already runs this firmware, 2 newer firmware not rewritten,\n"
    "-100 (156) the test failed or the arguments were refused, -200 (56) the rewrite failed,\n"
    "was interrupted or was not started because the rollout stopped (a dry run: 0 when every\n"
    "test passed, else -100), -300 (212) the tool could not start, -1 (255) unsupported system,\n"
    "-2 (254) another instance runs. A batch exits with its most severe code. Every run is\n"
    "recorded in the result log (VortaFWUpdateTool.log); see VortaFWUpdateTool(1).\n";

}  // namespace

std::string UsageText() {
    return kUsage;
}

std::string VersionText() {
    const std::wstring image = CarriedImageVersion();
    const CarriedBlob* engine = FindCarriedBlob(kBlobTypeDll, kBlobEngine);
    std::string text = "VortaFWUpdateTool " VORTA_TOOL_VERSION "\n";
    text +=
        "update image " + (image.empty() ? std::string("(none)") : common::AsciiToNarrow(image));
    if (const std::string_view digest = CarriedImageSha256(); !digest.empty()) {
        text += ", SHA-256 " + std::string(digest);
    }
    text += "\n";
    text += "engine VortaFWUpdateModule.so " +
            std::string(engine != nullptr ? VORTA_TOOL_VERSION : "(none)") + "\n";
    return text;
}

}  // namespace talbo::tesk::vorta
