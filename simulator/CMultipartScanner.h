#pragma once
// Streaming reader of a multipart/form-data body. It is fed the body in whatever pieces the
// network delivers and hands part headers and part data to a sink as they arrive, so that a
// part of any size passes through without being kept. It is strict: no preamble, a delimiter
// must be followed by CR LF or "--", the close delimiter by exactly CR LF and nothing else.
// Boundaries of any length from 1 to 70 characters work, including a single digit.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talbo::tesk::vorta::devsim {

struct PartHeader {
    std::string name;   // as written
    std::string value;  // trimmed
};

class CMultipartSink {
public:
    virtual ~CMultipartSink() = default;
    virtual void OnPartBegin(const std::vector<PartHeader>& headers) = 0;
    virtual void OnPartData(std::string_view bytes) = 0;
    virtual void OnPartEnd() = 0;
};

// True when text is a boundary that RFC 2046 allows (1 to 70 characters of its set, not ending
// in a space).
bool IsValidBoundary(std::string_view text);

// Reads the boundary out of a Content-Type header value of the form
// multipart/form-data; boundary=B (B may be quoted). Empty result and an error text otherwise.
std::string BoundaryFromContentType(std::string_view contentType, std::string& error);

class CMultipartScanner {
public:
    CMultipartScanner(std::string boundary, CMultipartSink& sink);

    // Consumes the next piece of the body; false once the body is known to be malformed.
    bool Feed(std::string_view bytes);
    // The body has ended; false when it ended anywhere but after the close delimiter.
    bool Finish();

    bool Failed() const { return state_ == State::Failed; }
    const std::string& Error() const { return error_; }
    // Body bytes consumed so far; inside a sink call, up to the end of what was handed over.
    std::uint64_t BytesSeen() const { return offset_ + inCallback_; }
    int PartsSeen() const { return parts_; }

private:
    enum class State { Opening, AfterDelimiter, Headers, Data, AfterClose, End, Failed };

    std::size_t FeedOpening(std::string_view bytes);
    std::size_t FeedAfterDelimiter(std::string_view bytes);
    std::size_t FeedHeaders(std::string_view bytes);
    std::size_t FeedData(std::string_view bytes);
    std::size_t FeedAfterClose(std::string_view bytes);
    bool ParseHeaderBlock();
    void Fail(std::string message);

    std::string opening_;    // "--" boundary, the first line of the body
    std::string delimiter_;  // CR LF "--" boundary, which ends every part
    CMultipartSink& sink_;
    State state_ = State::Opening;
    std::string error_;
    std::uint64_t offset_ = 0;    // body bytes consumed so far
    std::size_t inCallback_ = 0;  // bytes of the current piece already handed to the sink
    std::size_t matched_ = 0;     // bytes of the expected literal matched so far
    char pair_[2] = {0, 0};       // the two bytes after a delimiter
    std::string headerBlock_;
    std::vector<PartHeader> headersOfPart_;
    int parts_ = 0;
};

}  // namespace talbo::tesk::vorta::devsim
