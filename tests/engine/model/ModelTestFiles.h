#pragma once
// Files and environment for model tests: a private temporary folder, files written into it,
// update images in the RCX format, and environment variables restored after the test.

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vorta_test {

class ScopedTempDir {
public:
    ScopedTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vorta-model-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    ~ScopedTempDir() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }

    const std::filesystem::path& Path() const { return path_; }

    // Writes bytes to a file in the folder and returns its path as wide text.
    std::wstring Write(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file.wstring();
    }

private:
    std::filesystem::path path_;
};

// Sets (or with nullopt unsets) one environment variable and restores it when destroyed.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = ::getenv(name)) {
            old_ = old;
        }
        Apply(value);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() { Apply(old_); }

private:
    void Apply(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

    std::string name_;
    std::optional<std::string> old_;
};

struct ImageStep {
    std::string name;
    int number = 0;
    std::vector<std::string> blocks;  // one data block per size key 7.N.M
};

inline constexpr char kImageMarker[] = "OKRIM TALBO TalboNet Data";

// An update image: header with CR LF line ends and quoted values, the 0xFF separator, then each
// block followed by the marker. totalAdjust shifts the [Z_1] 5 total away from the true sum.
inline std::string MakeImage(const std::string& version, const std::vector<ImageStep>& steps,
                             std::int64_t totalAdjust = 0) {
    std::string header = "RCX\r\nOKRIM TALBO TalboNet Form\r\n[E]\r\n7=\"" + version + "\"\r\n";
    std::string body;
    std::int64_t total = 0;
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const std::string key = "7." + std::to_string(n + 1);
        header += key + "=\"" + steps[n].name + "\"\r\n";
        header += key + ".0=\"" + std::to_string(steps[n].number) + "\"\r\n";
        for (std::size_t m = 0; m < steps[n].blocks.size(); ++m) {
            const std::string& block = steps[n].blocks[m];
            header +=
                key + "." + std::to_string(m + 1) + "=\"" + std::to_string(block.size()) + "\"\r\n";
            body += block;
            body += kImageMarker;
            total += static_cast<std::int64_t>(block.size());
        }
    }
    header += "[Z_1]\r\n5=\"" + std::to_string(total + totalAdjust) + "\"\r\n";
    return header + '\xFF' + body;
}

// A small valid image with two steps of one block each.
inline std::string MakeTwoStepImage(const std::string& version = "Ver.1.00") {
    return MakeImage(version, {{"BackupSettingValue", 1, {"first block"}},
                               {"ReChangeMode", 2, {std::string("\x00\xFF\x01", 3)}}});
}

}  // namespace vorta_test
