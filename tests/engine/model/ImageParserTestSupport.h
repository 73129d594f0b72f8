#pragma once
// Small update images written by the tests themselves, and an MD5 that does not go through the
// engine's digest code.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vorta_test {

inline const std::string kMarker = "OKRIM TALBO TalboNet Data";

struct TestStep {
    std::string name;
    std::string number;
    std::vector<std::string> blocks;  // the bytes of each block
};

inline std::string HeaderFor(const std::string& version, const std::vector<TestStep>& steps) {
    std::string h = "RCX\r\nOKRIM TALBO TalboNet Form\r\n[A]\r\n1=\"1\"\r\n[E]\r\n";
    h += "7=\"" + version + "\"\r\n";
    std::size_t total = 0;
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const std::string key = "7." + std::to_string(n + 1);
        h += key + "=\"" + steps[n].name + "\"\r\n" + key + ".0=\"" + steps[n].number + "\"\r\n";
        for (std::size_t m = 0; m < steps[n].blocks.size(); ++m) {
            h += key + "." + std::to_string(m + 1) + "=\"" +
                 std::to_string(steps[n].blocks[m].size()) + "\"\r\n";
            total += steps[n].blocks[m].size();
        }
    }
    h += "[Z_1]\r\n1=\"Firmware\"\r\n5=\"" + std::to_string(total) + "\"\r\n";
    return h;
}

// Header, separator, then each block with its marker.
inline std::string ImageFor(const std::string& version, const std::vector<TestStep>& steps) {
    std::string image = HeaderFor(version, steps);
    image += '\xFF';
    for (const TestStep& step : steps) {
        for (const std::string& block : step.blocks) {
            image += block + kMarker;
        }
    }
    return image;
}

// text with its only occurrence of from replaced by to.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "no \"" << from << "\" in the image";
    EXPECT_EQ(text.find(from, at + 1), std::string::npos) << "\"" << from << "\" twice";
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// MD5 in chunks through OpenSSL's streaming calls, as lowercase hexadecimal.
inline std::string IndependentMd5(const unsigned char* data, std::size_t size) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_md5(), nullptr);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min<std::size_t>(size - done, 4093);
        EVP_DigestUpdate(context, data + done, n);
        done += n;
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, value, &length);
    EVP_MD_CTX_free(context);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[value[i] >> 4];
        text += kHex[value[i] & 15];
    }
    return text;
}

inline std::string IndependentMd5(const std::string& bytes) {
    return IndependentMd5(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

inline std::wstring Widen(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

// A private directory for the images of one test, removed with it.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vorta-image-test-XXXXXX").string();
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::wstring Write(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path file = path / name;
        std::ofstream(file, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return Widen(file.string());
    }
    std::filesystem::path path;
};

}  // namespace vorta_test
