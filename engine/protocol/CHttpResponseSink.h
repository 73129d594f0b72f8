#pragma once

#include <cstddef>

#include "engine/model/ByteSequence.h"

namespace talbo::tesk::vorta {

// Takes what the HTTP client reads from the device: the status of each response head and the
// body of the final one. Everything it holds is bounded: the body by kMaxBodySize, the number of
// responses in one exchange (authentication rounds, resends) by kMaxResponses.
class CHttpResponseSink {
public:
    static constexpr std::size_t kMaxBodySize = std::size_t{1024} * 1024;
    static constexpr int kMaxResponses = 8;

    enum class Mode {
        kDiscard,  // the answer to the priming request: read and thrown away
        kCollect,  // the answer to the real request: a 200 body is kept, any other is refused
    };

    void Start(Mode mode);

    // One header line as the client delivers it (the status line, a field, or the empty line
    // that ends the head). False stops the exchange.
    bool OnHeaderLine(const char* line, std::size_t length);
    // Body bytes of the final response. False stops the exchange.
    bool OnBodyBytes(const char* bytes, std::size_t length);
    // The client is about to send the request again: whatever head was seen is void.
    void OnResend();

    // A complete final (non-1xx) response head was read in the current round.
    bool HeadComplete() const { return headComplete; }
    int Status() const { return status; }
    // The body went over kMaxBodySize and reading was stopped.
    bool BodyTooLarge() const { return bodyTooLarge; }
    // The exchange was stopped deliberately because a non-200 body is never read.
    bool BodyRefused() const { return bodyRefused; }
    ByteSequence& Body() { return body; }

private:
    Mode mode = Mode::kCollect;
    int status = 0;
    int responses = 0;
    bool headComplete = false;
    bool bodyTooLarge = false;
    bool bodyRefused = false;
    std::size_t discarded = 0;
    ByteSequence body;
};

}  // namespace talbo::tesk::vorta
