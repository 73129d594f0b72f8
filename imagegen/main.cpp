// vorta-mkimage: writes an update image from a list of steps, and reads one back (--info,
// --verify).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "imagegen/ImageInspection.h"
#include "imagegen/ImageLayout.h"
#include "imagegen/ImageWriter.h"

namespace ig = talbo::tesk::vorta::imagegen;

namespace {

constexpr int kExitWriteFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitDamaged = 3;

constexpr const char* kUsage =
    "Usage: vorta-mkimage --out FILE --image-version TEXT\n"
    "                     --step NAME:NUMBER:BLOCK[,BLOCK...]... [--seed N]\n"
    "       vorta-mkimage --out FILE --stand-in [--seed N]\n"
    "       vorta-mkimage --info FILE | --verify FILE\n"
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
    "  --info FILE     print the image's header (version, each step with its number and\n"
    "                  block sizes), the check of its framing and its SHA-256\n"
    "  --verify FILE   check the framing: the header the tool needs, the separator byte, each\n"
    "                  block followed by the block marker, nothing after the last one, and the\n"
    "                  blocks' total equal to the one the header states; print \"FILE: ok\"\n"
    "                  or each fault on standard error\n"
    "  --version       alone: print the program's version\n"
    "  --help          show this text\n"
    "\n"
    "Exit status: 0 written (or checked and well-formed), 1 a file could not be read or\n"
    "written, 2 bad arguments, 3 the image checked by --info or --verify has faults.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vorta-mkimage: %s\nTry 'vorta-mkimage --help'.\n", message.c_str());
    return kExitUsage;
}

// --info and --verify: reads the image back; kExitDamaged when it has any fault.
int Inspect(bool info, const std::string& path) {
    ig::ImageInspection inspection;
    if (const std::string error = ig::InspectImage(path, inspection); !error.empty()) {
        std::fprintf(stderr, "vorta-mkimage: %s\n", error.c_str());
        return kExitWriteFailed;
    }
    if (info) {
        std::fputs(ig::FormatInspection(path, inspection).c_str(), stdout);
    } else if (inspection.faults.empty()) {
        std::printf("%s: ok\n", path.c_str());
    }
    if (!info) {
        for (const std::string& fault : inspection.faults) {
            std::fprintf(stderr, "vorta-mkimage: %s: %s\n", path.c_str(), fault.c_str());
        }
    }
    return inspection.faults.empty() ? 0 : kExitDamaged;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--info" || option == "--verify") {
            if (argc != 3 || i != 1) {
                return UsageError(std::string(option) + " takes one image and nothing else");
            }
            return Inspect(option == "--info", argv[2]);
        }
    }
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
