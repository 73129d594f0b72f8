#include "engine/protocol/CHttpResponseSink.h"

#include <string_view>

namespace talbo::tesk::vorta {

namespace {

// The code of a status line "HTTP/x.y NNN reason", or 0 when the line is not one.
int ParseStatusLine(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/") {
        return 0;
    }
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) {
        return 0;
    }
    int code = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return 0;
        }
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

}  // namespace

void CHttpResponseSink::Start(Mode newMode) {
    mode = newMode;
    status = 0;
    responses = 0;
    headComplete = false;
    bodyTooLarge = false;
    bodyRefused = false;
    discarded = 0;
    body.clear();
}

bool CHttpResponseSink::OnHeaderLine(const char* line, std::size_t length) {
    const std::string_view text(line, length);
    if (const int code = ParseStatusLine(text); code != 0) {
        status = code;
        headComplete = false;
        if (code >= 200 && ++responses > kMaxResponses) {
            return false;
        }
        return true;
    }
    if ((text == "\r\n" || text == "\n") && status >= 200) {
        headComplete = true;
    }
    return true;
}

bool CHttpResponseSink::OnBodyBytes(const char* bytes, std::size_t length) {
    if (mode == Mode::kDiscard) {
        discarded += length;
        if (discarded > kMaxBodySize) {
            bodyTooLarge = true;
            return false;
        }
        return true;
    }
    if (status != 200) {
        bodyRefused = true;
        return false;
    }
    if (length > kMaxBodySize - body.size()) {
        bodyTooLarge = true;
        body.clear();
        return false;
    }
    try {
        body.insert(body.end(), bytes, bytes + length);
    } catch (...) {
        body.clear();
        return false;
    }
    return true;
}

void CHttpResponseSink::OnResend() {
    status = 0;
    headComplete = false;
}

}  // namespace talbo::tesk::vorta
