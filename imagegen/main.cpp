// vorta-mkimage: writes an update image from a list of steps.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "imagegen/ImageLayout.h"
#include "imagegen/ImageWriter.h"

namespace ig = talbo::tesk::vorta::imagegen;

namespace {

constexpr int kExitWriteFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: vorta-mkimage --out FILE --image-version TEXT\n"
    "                     --step NAME:NUMBER:BLOCK[,BLOCK...]... [--seed N]\n"
    "       vorta-mkimage --out FILE --stand-in [--seed N]\n"
    "       vorta-mkimage --version | --help\n"
    "\n"
    "Writes an update image: the INI header (CR LF lines, sections A, C, E, Z_1), the\n"
    "separator byte 0xFF, then every data block followed by the block marker.\n"
    "\n"
    "  --out FILE      image to write; it appears only when complete\n"
    "  --image-version TEXT\n"
    "                  firmware version after the update ([E] 7, [Z_1] 3 and 4); also\n"
    "                  accepted as --version TEXT\n"
    "  --step STEP     the next step, NAME:NUMBER:BLOCK[,BLOCK...]; NAME is the step's name,\n"
    "                  NUMBER its non-zero step number, and each BLOCK either a size in bytes\n"
    "                  (filled with pseudo-random bytes) or @PATH (the bytes of that file)\n"
    "  --stand-in      the 11 steps and the version of the stand-in image the tool carries\n"
    "  --seed N        seed of the pseudo-random bytes (default 1); the same seed gives the\n"
    "                  same image\n"
    "  --version       alone: print the program's version\n"
    "  --help          show this text\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be read or written, 2 bad arguments.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vorta-mkimage: %s\nTry 'vorta-mkimage --help'.\n", message.c_str());
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    ig::ImageLayout layout;
    std::string out;
    bool standIn = false;
    bool haveVersion = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--version" && argc == 2) {
            std::puts("vorta-mkimage " VORTA_MKIMAGE_VERSION);
            return 0;
        }
        if (option == "--stand-in") {
            standIn = true;
            continue;
        }
        if (option != "--out" && option != "--version" && option != "--image-version" &&
            option != "--step" && option != "--seed") {
            return UsageError("unknown option \"" + std::string(option) + "\"");
        }
        if (i + 1 >= argc) {
            return UsageError(std::string(option) + " needs a value");
        }
        const std::string value = argv[++i];
        if (option == "--out") {
            out = value;
        } else if (option == "--version" || option == "--image-version") {
            layout.version = value;
            haveVersion = true;
        } else if (option == "--seed") {
            char* end = nullptr;
            errno = 0;
            layout.seed = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || value.front() == '-') {
                return UsageError("seed \"" + value + "\" is not a number");
            }
        } else {
            std::string error;
            ig::Step step = ig::ParseStep(value, error);
            if (!error.empty()) {
                return UsageError(error);
            }
            layout.steps.push_back(std::move(step));
        }
    }

    if (out.empty()) {
        return UsageError("--out is required");
    }
    if (standIn) {
        if (haveVersion || !layout.steps.empty()) {
            return UsageError("--stand-in takes no --version or --step");
        }
        const std::uint64_t seed = layout.seed;
        layout = ig::StandInLayout();
        layout.seed = seed;
    }
    if (const std::string problem = ig::Validate(layout); !problem.empty()) {
        return UsageError(problem);
    }
    if (const std::string error = ig::WriteImage(layout, out); !error.empty()) {
        std::fprintf(stderr, "vorta-mkimage: %s\n", error.c_str());
        return kExitWriteFailed;
    }
    return 0;
}
