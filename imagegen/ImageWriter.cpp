#include "imagegen/ImageWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "imagegen/PseudoRandomBytes.h"

namespace talbo::tesk::vorta::imagegen {

namespace {

constexpr unsigned char kSeparator = 0xFF;
constexpr char kMarker[] = "OKRIM TALBO TalboNet Data";  // written without its terminator
constexpr std::size_t kChunk = 1 << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

std::string CopyFileBlock(const BlockSource& block, std::FILE* out,
                          std::vector<unsigned char>& buffer) {
    const File in(std::fopen(block.path.c_str(), "rb"));
    if (!in) {
        return SystemError("cannot open", block.path);
    }
    std::uint64_t left = block.size;
    while (left > 0) {
        const std::size_t want =
            left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
        const std::size_t got = std::fread(buffer.data(), 1, want, in.get());
        if (got != want) {
            return "block file \"" + block.path + "\" changed while it was being copied";
        }
        if (std::fwrite(buffer.data(), 1, got, out) != got) {
            return "write failed";
        }
        left -= got;
    }
    if (std::fgetc(in.get()) != EOF) {
        return "block file \"" + block.path + "\" changed while it was being copied";
    }
    return {};
}

std::string WriteRandomBlock(const BlockSource& block, PseudoRandomBytes& random, std::FILE* out,
                             std::vector<unsigned char>& buffer) {
    std::uint64_t left = block.size;
    while (left > 0) {
        const std::size_t n = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
        random.Fill(buffer.data(), n);
        if (std::fwrite(buffer.data(), 1, n, out) != n) {
            return "write failed";
        }
        left -= n;
    }
    return {};
}

std::string WriteContent(const ImageLayout& layout, std::FILE* out) {
    const std::string header = MakeHeader(layout);
    if (std::fwrite(header.data(), 1, header.size(), out) != header.size() ||
        std::fputc(kSeparator, out) == EOF) {
        return "write failed";
    }
    PseudoRandomBytes random(layout.seed);
    std::vector<unsigned char> buffer(kChunk);
    for (const Step& step : layout.steps) {
        for (const BlockSource& block : step.blocks) {
            std::string error = block.path.empty() ? WriteRandomBlock(block, random, out, buffer)
                                                   : CopyFileBlock(block, out, buffer);
            if (!error.empty()) {
                return error;
            }
            if (std::fwrite(kMarker, 1, sizeof kMarker - 1, out) != sizeof kMarker - 1) {
                return "write failed";
            }
        }
    }
    return {};
}

}  // namespace

std::string WriteImage(const ImageLayout& layout, const std::string& outPath) {
    if (std::string problem = Validate(layout); !problem.empty()) {
        return problem;
    }
    const std::string temporary = outPath + ".part." + std::to_string(::getpid());
    std::string error;
    {
        const File out(std::fopen(temporary.c_str(), "wb"));
        if (!out) {
            return SystemError("cannot create", temporary);
        }
        error = WriteContent(layout, out.get());
        if (error.empty() && std::fflush(out.get()) != 0) {
            error = SystemError("cannot write", temporary);
        }
    }
    if (error.empty() && std::rename(temporary.c_str(), outPath.c_str()) != 0) {
        error = SystemError("cannot rename to", outPath);
    }
    if (!error.empty()) {
        std::remove(temporary.c_str());
    }
    return error;
}

}  // namespace talbo::tesk::vorta::imagegen
