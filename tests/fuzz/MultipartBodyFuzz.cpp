// The simulator's multipart reading: the Content-Type value (the input's first line) gives the
// boundary, the rest is the body. The body is fed once whole and once in small pieces: the
// network may cut it anywhere, so both must read the same parts, and no part may hold the
// delimiter that should have ended it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "simulator/CMultipartScanner.h"

namespace ds = talbo::tesk::vorta::devsim;
using vorta_fuzz::Require;

namespace {

struct Part {
    std::vector<ds::PartHeader> headers;
    std::string data;
    bool ended = false;
};

class CRecordingSink : public ds::CMultipartSink {
public:
    void OnPartBegin(const std::vector<ds::PartHeader>& headers) override {
        Require(parts.empty() || parts.back().ended, "a part begins after the last one ended");
        parts.push_back({headers, {}, false});
    }
    void OnPartData(std::string_view bytes) override {
        Require(!parts.empty() && !parts.back().ended, "data belongs to an open part");
        parts.back().data.append(bytes);
    }
    void OnPartEnd() override {
        Require(!parts.empty() && !parts.back().ended, "only an open part ends");
        parts.back().ended = true;
    }

    std::vector<Part> parts;
};

struct Reading {
    bool fed = false;
    bool finished = false;
    int partsSeen = 0;
    std::vector<Part> parts;
};

// pieceSeed 0 feeds the body in one piece; otherwise the pieces run from 1 to 13 bytes.
Reading Read(const std::string& boundary, std::string_view body, std::size_t pieceSeed) {
    CRecordingSink sink;
    ds::CMultipartScanner scanner(boundary, sink);
    Reading reading;
    reading.fed = true;
    if (pieceSeed == 0) {
        reading.fed = scanner.Feed(body);
    }
    for (std::size_t i = 0; pieceSeed != 0 && !body.empty(); ++i) {
        const std::size_t piece = 1 + (i * 7 + pieceSeed) % 13;
        reading.fed = scanner.Feed(body.substr(0, piece)) && reading.fed;
        body.remove_prefix(piece < body.size() ? piece : body.size());
    }
    reading.finished = scanner.Finish();
    Require(scanner.Failed() == !scanner.Error().empty(), "a failure says what went wrong");
    Require(!reading.finished || !scanner.Failed(), "a finished body did not fail");
    reading.partsSeen = scanner.PartsSeen();
    reading.parts = std::move(sink.parts);
    return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    if (lineEnd == std::string_view::npos) {
        return 0;
    }
    std::string error;
    const std::string boundary = ds::BoundaryFromContentType(input.substr(0, lineEnd), error);
    Require(boundary.empty() != error.empty(), "a Content-Type gives a boundary or an error");
    if (boundary.empty()) {
        return 0;
    }
    Require(ds::IsValidBoundary(boundary), "the boundary found is a valid one");
    const std::string_view body = input.substr(lineEnd + 1);

    const Reading whole = Read(boundary, body, 0);
    const Reading pieces = Read(boundary, body, boundary.size() + size);
    Require(whole.fed == pieces.fed && whole.finished == pieces.finished,
            "pieces and the whole body end alike");
    Require(whole.partsSeen == pieces.partsSeen && whole.parts.size() == pieces.parts.size(),
            "pieces and the whole body give the same number of parts");
    const std::string delimiter = "\r\n--" + boundary;
    for (std::size_t i = 0; i < whole.parts.size(); ++i) {
        const Part& a = whole.parts[i];
        const Part& b = pieces.parts[i];
        Require(a.data == b.data && a.ended == b.ended && a.headers.size() == b.headers.size(),
                "pieces and the whole body give the same parts");
        for (std::size_t h = 0; h < a.headers.size(); ++h) {
            Require(
                a.headers[h].name == b.headers[h].name && a.headers[h].value == b.headers[h].value,
                "pieces and the whole body give the same part headers");
        }
        Require(a.data.find(delimiter) == std::string::npos, "no part holds its delimiter");
    }
    return 0;
}
