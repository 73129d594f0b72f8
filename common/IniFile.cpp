#include "common/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "common/Utf8.h"

namespace talbo::tesk::vorta::common {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::wstring DecodeText(std::string_view bytes, TextEncoding& encoding) {
    if (StartsWith(bytes, kUtf16LeBom)) {
        encoding = TextEncoding::Utf16LE;
        bytes.remove_prefix(kUtf16LeBom.size());
        std::wstring out;
        out.reserve(bytes.size() / 2);
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const auto unit =
                static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
                const auto low =
                    static_cast<char16_t>(static_cast<unsigned char>(bytes[i + 2]) |
                                          (static_cast<unsigned char>(bytes[i + 3]) << 8));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    out.push_back(
                        static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
                    i += 2;
                    continue;
                }
            }
            out.push_back(static_cast<wchar_t>(unit));
        }
        return out;
    }
    if (StartsWith(bytes, kUtf8Bom)) {
        if (auto text = DecodeUtf8(bytes.substr(kUtf8Bom.size()))) {
            encoding = TextEncoding::Utf8;
            return *text;
        }
        encoding = TextEncoding::SingleByte;
        return BytesToWide(bytes);
    }
    if (auto text = DecodeUtf8(bytes)) {
        encoding = TextEncoding::Utf8;
        return *text;
    }
    encoding = TextEncoding::SingleByte;
    return BytesToWide(bytes);
}

std::optional<std::string> EncodeText(std::wstring_view text, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf8:
            return EncodeUtf8(text);
        case TextEncoding::SingleByte: {
            std::string out;
            out.reserve(text.size());
            for (const wchar_t c : text) {
                if (static_cast<char32_t>(c) > 0xFF) {
                    return std::nullopt;
                }
                out.push_back(static_cast<char>(c));
            }
            return out;
        }
        case TextEncoding::Utf16LE: {
            std::string out(kUtf16LeBom);
            auto put = [&out](char32_t unit) {
                out.push_back(static_cast<char>(unit & 0xFF));
                out.push_back(static_cast<char>((unit >> 8) & 0xFF));
            };
            for (const wchar_t wc : text) {
                const auto c = static_cast<char32_t>(wc);
                // An unpaired surrogate can only have come from a file read unit by unit: it
                // goes back as the unit it was, so that the rest of the file can still be saved.
                if (c > 0x10FFFF) {
                    return std::nullopt;
                }
                if (c >= 0x10000) {
                    put(0xD800 + ((c - 0x10000) >> 10));
                    put(0xDC00 + ((c - 0x10000) & 0x3FF));
                } else {
                    put(c);
                }
            }
            return out;
        }
    }
    return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    std::string pattern = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        return false;
    }
    // mkstemp creates 0600; give the file the mode an ordinary new file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat existing {};
    const mode_t mode =
        ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~mask);
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(pattern.c_str(), path.c_str()) == 0) {
        return true;
    }
    ::unlink(pattern.c_str());
    return false;
}

std::optional<IniFile> IniFile::Load(const std::filesystem::path& path) {
    auto bytes = ReadWholeFile(path);
    if (!bytes) {
        return std::nullopt;
    }
    TextEncoding encoding = TextEncoding::Utf8;
    IniDocument doc = IniDocument::Parse(DecodeText(*bytes, encoding));
    return IniFile(path, std::move(doc), encoding);
}

std::optional<IniFile> IniFile::LoadOrEmpty(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) {
        return IniFile(path, IniDocument(), TextEncoding::Utf8);
    }
    return Load(path);
}

bool IniFile::Save() {
    const std::wstring text = doc_.Serialize();
    auto bytes = EncodeText(text, encoding_);
    if (!bytes && encoding_ == TextEncoding::SingleByte) {
        // Single-byte text cannot hold what a write may bring (a Japanese result text): the file
        // becomes UTF-8, which reads back to the same characters and holds the new ones too.
        bytes = EncodeText(text, TextEncoding::Utf8);
        if (bytes) {
            encoding_ = TextEncoding::Utf8;
        }
    }
    if (!bytes) {
        return false;
    }
    return ReplaceFileAtomically(path_, *bytes);
}

}  // namespace talbo::tesk::vorta::common
