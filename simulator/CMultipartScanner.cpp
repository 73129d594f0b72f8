#include "simulator/CMultipartScanner.h"

#include <algorithm>
#include <cstring>

namespace talbo::tesk::vorta::devsim {
namespace {

constexpr std::size_t kMaxHeaderBlock = 8192;
constexpr std::size_t kMaxBoundary = 70;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// Printable form of a few bytes for error texts.
std::string Shown(std::string_view bytes) {
    std::string text;
    for (char c : bytes.substr(0, 24)) {
        auto u = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (u < 0x20 || u >= 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            text += "\\x";
            text.push_back(kHex[u >> 4]);
            text.push_back(kHex[u & 0x0F]);
        } else {
            text.push_back(c);
        }
    }
    return text;
}

}  // namespace

bool IsValidBoundary(std::string_view text) {
    if (text.empty() || text.size() > kMaxBoundary || text.back() == ' ') {
        return false;
    }
    static constexpr std::string_view kExtra = "'()+_,-./:=? ";
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               kExtra.find(c) != std::string_view::npos;
    });
}

std::string BoundaryFromContentType(std::string_view contentType, std::string& error) {
    std::string_view rest = contentType;
    std::size_t semicolon = rest.find(';');
    std::string_view media = Trim(rest.substr(0, semicolon));
    if (!EqualsNoCase(media, "multipart/form-data")) {
        error = "Content-Type is \"" + std::string(contentType) + "\", not multipart/form-data";
        return {};
    }
    std::string boundary;
    bool found = false;
    while (semicolon != std::string_view::npos) {
        rest.remove_prefix(semicolon + 1);
        semicolon = rest.find(';');
        std::string_view parameter = Trim(rest.substr(0, semicolon));
        std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos) {
            error = "Content-Type parameter \"" + std::string(parameter) + "\" has no value";
            return {};
        }
        std::string_view name = Trim(parameter.substr(0, equals));
        std::string_view value = Trim(parameter.substr(equals + 1));
        if (!EqualsNoCase(name, "boundary")) {
            continue;
        }
        if (found) {
            error = "Content-Type names the boundary twice";
            return {};
        }
        found = true;
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        boundary = value;
    }
    if (!found) {
        error = "Content-Type has no boundary parameter";
        return {};
    }
    if (!IsValidBoundary(boundary)) {
        error = "boundary \"" + Shown(boundary) + "\" is not a valid multipart boundary";
        return {};
    }
    return boundary;
}

CMultipartScanner::CMultipartScanner(std::string boundary, CMultipartSink& sink)
    : opening_("--" + boundary), delimiter_("\r\n--" + boundary), sink_(sink) {}

void CMultipartScanner::Fail(std::string message) {
    if (state_ != State::Failed) {
        error_ = std::move(message) + " (body offset " + std::to_string(offset_) + ")";
        state_ = State::Failed;
    }
}

bool CMultipartScanner::Feed(std::string_view bytes) {
    while (!bytes.empty() && state_ != State::Failed) {
        std::size_t used = 0;
        switch (state_) {
            case State::Opening:
                used = FeedOpening(bytes);
                break;
            case State::AfterDelimiter:
                used = FeedAfterDelimiter(bytes);
                break;
            case State::Headers:
                used = FeedHeaders(bytes);
                break;
            case State::Data:
                used = FeedData(bytes);
                break;
            case State::AfterClose:
                used = FeedAfterClose(bytes);
                break;
            case State::End:
                Fail("bytes \"" + Shown(bytes) + "\" follow the closing delimiter");
                return false;
            case State::Failed:
                return false;
        }
        if (state_ == State::Failed) {
            return false;
        }
        offset_ += used;
        bytes.remove_prefix(used);
    }
    return state_ != State::Failed;
}

bool CMultipartScanner::Finish() {
    switch (state_) {
        case State::End:
            return true;
        case State::Failed:
            return false;
        case State::Opening:
            Fail(offset_ == 0 ? "body is empty" : "body ended inside the opening delimiter");
            return false;
        case State::Data:
            Fail("body ended inside part " + std::to_string(parts_) +
                 " without a closing delimiter");
            return false;
        case State::AfterClose:
            Fail("close delimiter is not followed by CR LF");
            return false;
        default:
            Fail("body ended after a delimiter, before the next part");
            return false;
    }
}

std::size_t CMultipartScanner::FeedOpening(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && matched_ < opening_.size()) {
        if (bytes[used] != opening_[matched_]) {
            Fail("body does not start with \"" + Shown(opening_) + "\"");
            return used;
        }
        ++used;
        ++matched_;
    }
    if (matched_ == opening_.size()) {
        matched_ = 0;
        state_ = State::AfterDelimiter;
    }
    return used;
}

std::size_t CMultipartScanner::FeedAfterDelimiter(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && matched_ < 2) {
        pair_[matched_++] = bytes[used++];
    }
    if (matched_ < 2) {
        return used;
    }
    matched_ = 0;
    std::string_view pair(pair_, 2);
    if (pair == "\r\n") {
        headerBlock_.clear();
        state_ = State::Headers;
    } else if (pair == "--") {
        state_ = State::AfterClose;
    } else {
        Fail("boundary delimiter is followed by \"" + Shown(pair) +
             "\" instead of CR LF or \"--\"");
    }
    return used;
}

std::size_t CMultipartScanner::FeedHeaders(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size()) {
        headerBlock_.push_back(bytes[used++]);
        bool ended = headerBlock_ == "\r\n" ||
                     (headerBlock_.size() >= 4 &&
                      headerBlock_.compare(headerBlock_.size() - 4, 4, "\r\n\r\n") == 0);
        if (ended) {
            if (ParseHeaderBlock()) {
                ++parts_;
                state_ = State::Data;
                inCallback_ = used;
                sink_.OnPartBegin(headersOfPart_);
                inCallback_ = 0;
            }
            return used;
        }
        if (headerBlock_.size() > kMaxHeaderBlock) {
            Fail("part headers are longer than " + std::to_string(kMaxHeaderBlock) + " bytes");
            return used;
        }
    }
    return used;
}

bool CMultipartScanner::ParseHeaderBlock() {
    headersOfPart_.clear();
    std::string_view block = headerBlock_;
    block.remove_suffix(2);  // the empty line that ends the block
    while (!block.empty()) {
        std::size_t end = block.find("\r\n");
        std::string_view line = block.substr(0, end);
        block.remove_prefix(end + 2);
        if (line.find('\n') != std::string_view::npos ||
            line.find('\r') != std::string_view::npos) {
            Fail("part header line \"" + Shown(line) + "\" holds a bare CR or LF");
            return false;
        }
        if (line.front() == ' ' || line.front() == '\t') {
            Fail("part header line \"" + Shown(line) + "\" is a folded continuation");
            return false;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            Fail("part header line \"" + Shown(line) + "\" is not of the form Name: value");
            return false;
        }
        headersOfPart_.push_back(
            {std::string(line.substr(0, colon)), std::string(Trim(line.substr(colon + 1)))});
    }
    return true;
}

// Part data runs until the next CR LF "--" boundary. The delimiter holds a CR only at its
// start (a boundary cannot contain one), so a candidate can only begin at a CR, and bytes that
// matched a delimiter prefix and then differed are plain data.
std::size_t CMultipartScanner::FeedData(std::string_view bytes) {
    const std::size_t size = bytes.size();
    const char* data = bytes.data();
    std::size_t position = 0;
    if (matched_ > 0) {
        std::size_t k = 0;
        while (matched_ + k < delimiter_.size() && k < size &&
               data[k] == delimiter_[matched_ + k]) {
            ++k;
        }
        if (matched_ + k == delimiter_.size()) {
            matched_ = 0;
            sink_.OnPartEnd();
            state_ = State::AfterDelimiter;
            return k;
        }
        if (k == size) {
            matched_ += k;
            return size;
        }
        sink_.OnPartData(std::string_view(delimiter_).substr(0, matched_));
        matched_ = 0;
    }
    std::size_t dataStart = position;
    while (position < size) {
        const void* found = std::memchr(data + position, '\r', size - position);
        if (found == nullptr) {
            break;
        }
        std::size_t candidate = static_cast<const char*>(found) - data;
        std::size_t available = std::min(size - candidate, delimiter_.size());
        if (std::memcmp(data + candidate, delimiter_.data(), available) == 0) {
            if (candidate > dataStart) {
                sink_.OnPartData(bytes.substr(dataStart, candidate - dataStart));
            }
            if (available == delimiter_.size()) {
                sink_.OnPartEnd();
                state_ = State::AfterDelimiter;
                return candidate + available;
            }
            matched_ = available;
            return size;
        }
        position = candidate + 1;
    }
    if (size > dataStart) {
        sink_.OnPartData(bytes.substr(dataStart));
    }
    return size;
}

std::size_t CMultipartScanner::FeedAfterClose(std::string_view bytes) {
    static constexpr std::string_view kEnd = "\r\n";
    std::size_t used = 0;
    while (used < bytes.size() && matched_ < kEnd.size()) {
        if (bytes[used] != kEnd[matched_]) {
            Fail("close delimiter is followed by \"" + Shown(bytes.substr(used)) +
                 "\" instead of CR LF");
            return used;
        }
        ++used;
        ++matched_;
    }
    if (matched_ == kEnd.size()) {
        matched_ = 0;
        state_ = State::End;
    }
    return used;
}

}  // namespace talbo::tesk::vorta::devsim
