#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RequestBodies.h"
#include "simulator/CMultipartScanner.h"

using namespace talbo::tesk::vorta::devsim;

namespace {

struct RecordedPart {
    std::vector<PartHeader> headers;
    std::string data;
    bool ended = false;
};

class Recorder : public CMultipartSink {
public:
    void OnPartBegin(const std::vector<PartHeader>& headers) override {
        parts.push_back({headers, {}, false});
    }
    void OnPartData(std::string_view bytes) override { parts.back().data.append(bytes); }
    void OnPartEnd() override { parts.back().ended = true; }
    std::vector<RecordedPart> parts;
};

// Feeds the body in pieces of the given size (0: all at once).
std::vector<RecordedPart> Scan(const std::string& boundary, const std::string& body,
                               std::size_t piece, std::string* error = nullptr) {
    Recorder recorder;
    CMultipartScanner scanner(boundary, recorder);
    bool ok = true;
    for (std::size_t at = 0; at < body.size() && ok;) {
        std::size_t n = piece == 0 ? body.size() : std::min(piece, body.size() - at);
        ok = scanner.Feed(std::string_view(body).substr(at, n));
        at += n;
    }
    ok = ok && scanner.Finish();
    if (error) {
        *error = ok ? "" : scanner.Error();
    }
    return ok ? recorder.parts : std::vector<RecordedPart>{};
}

std::string FileBody(std::uint32_t boundary, const std::string& document, const std::string& file) {
    auto body = devsim_test::MakeBody(boundary, document, true);
    return body.head + file + body.tail;
}

}  // namespace

TEST(MultipartScanner, OneDigitBoundaryAtEverySplitAndPieceSize) {
    // File data full of near-delimiters: CR LF "--", CR LF "-7", CR CR LF "--" and a lone CR
    // at the very end of the part.
    const std::string file = "ab\r\n--x\r\n-7\r\r\n--8\r\n--\r\n7--\r";
    const std::string document =
        devsim_test::ChangeModeDocument("Ver.3.01TC", devsim_test::Md5Hex(file));
    const std::string body = FileBody(7, document, file);
    for (std::size_t piece : {0u, 1u, 2u, 3u, 5u, 7u, 64u}) {
        auto parts = Scan("7", body, piece);
        ASSERT_EQ(parts.size(), 2u) << "piece " << piece;
        EXPECT_EQ(parts[0].data, document);
        EXPECT_EQ(parts[1].data, file) << "piece " << piece;
        EXPECT_TRUE(parts[1].ended);
        EXPECT_EQ(parts[1].headers.size(), 2u);
        EXPECT_EQ(parts[1].headers[0].name, "Content-Disposition");
        EXPECT_EQ(parts[1].headers[0].value, "form-data; name=\"file\"; filename=\"image.tar\"");
    }
    // Two arbitrary split points, so that every boundary-straddling case is met.
    for (std::size_t cut = 1; cut < body.size(); ++cut) {
        Recorder recorder;
        CMultipartScanner scanner("7", recorder);
        ASSERT_TRUE(scanner.Feed(std::string_view(body).substr(0, cut)));
        ASSERT_TRUE(scanner.Feed(std::string_view(body).substr(cut)));
        ASSERT_TRUE(scanner.Finish()) << scanner.Error();
        ASSERT_EQ(recorder.parts.size(), 2u);
        ASSERT_EQ(recorder.parts[1].data, file) << "cut at " << cut;
    }
}

TEST(MultipartScanner, RequestWithoutFileKeepsTheClosingCrLfInItsPart) {
    auto body = devsim_test::MakeBody(1234567890, devsim_test::GetInformationDocument(), false);
    auto parts = Scan("1234567890", body.head + body.tail, 0);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].data, devsim_test::GetInformationDocument() + "\r\n");
}

TEST(MultipartScanner, EmptyFilePartIsFollowedDirectlyByTheTail) {
    auto parts = Scan("42", FileBody(42, "doc", ""), 1);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].data, "");
    EXPECT_TRUE(parts[1].ended);
}

TEST(MultipartScanner, MalformedBodiesAreRefusedWithWhatWasWrong) {
    struct Case {
        std::string body;
        std::string expected;
    } cases[] = {
        {"preamble\r\n--5\r\nA: b\r\n\r\nx\r\n--5--\r\n", "does not start with"},
        {"--5\r\nA: b\r\n\r\nx\r\n--5--\r\nmore", "follow the closing delimiter"},
        {"--5\r\nA: b\r\n\r\nx\r\n--5--", "not followed by CR LF"},
        {"--5\r\nA: b\r\n\r\nx\r\n--5--XY", "instead of CR LF"},
        {"--5\r\nA: b\r\n\r\nx", "without a closing delimiter"},
        {"--5\r\nNoColonHere\r\n\r\nx\r\n--5--\r\n", "not of the form Name: value"},
        {"--5\r\nA: b\r\n folded\r\n\r\nx\r\n--5--\r\n", "folded"},
        {"--5\r\nA: b\r\n\r\nx\r\n--5X\r\n", "instead of CR LF or \"--\""},
        {"--5\r\n" + std::string(9000, 'h'), "longer than"},
        {"", "body is empty"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_TRUE(Scan("5", c.body, 3, &error).empty()) << c.body;
        EXPECT_NE(error.find(c.expected), std::string::npos) << "got: " << error;
        EXPECT_NE(error.find("body offset"), std::string::npos);
    }
}

TEST(MultipartScanner, BoundaryComesFromTheContentTypeHeader) {
    std::string error;
    EXPECT_EQ(BoundaryFromContentType("multipart/form-data; boundary=7", error), "7");
    EXPECT_EQ(BoundaryFromContentType("Multipart/Form-Data; charset=x; boundary=\"a b\"", error),
              "a b");
    struct Bad {
        const char* header;
        const char* expected;
    } bad[] = {
        {"text/xml", "not multipart/form-data"},
        {"multipart/form-data", "no boundary"},
        {"multipart/form-data; boundary=", "not a valid multipart boundary"},
        {"multipart/form-data; boundary=a\x01", "not a valid"},
        {"multipart/form-data; boundary=1; boundary=2", "twice"},
        {"multipart/form-data; boundary", "has no value"},
    };
    for (const auto& b : bad) {
        error.clear();
        EXPECT_EQ(BoundaryFromContentType(b.header, error), "") << b.header;
        EXPECT_NE(error.find(b.expected), std::string::npos) << b.header << ": " << error;
    }
    EXPECT_FALSE(IsValidBoundary(std::string(71, 'a')));
    EXPECT_TRUE(IsValidBoundary(std::string(70, 'a')));
    EXPECT_FALSE(IsValidBoundary("ends "));
}
