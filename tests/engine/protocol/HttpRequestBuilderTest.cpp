#include <gtest/gtest.h>
#include <time.h>

#include <memory>
#include <string>

#include "engine/model/CUpdateImagePart.h"
#include "engine/protocol/CHttpRequestBuilder.h"

namespace talbo::tesk::vorta {
namespace {

std::string Text(const ByteSequence& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

CHttpRequestBuilder MakeBuilder(std::uint32_t tick,
                                const std::wstring& basePath = L"firmware-update") {
    CHttpRequestBuilder builder(L"POST", L"firmware-update", basePath);
    builder.SetTickSource([tick] { return tick; });
    return builder;
}

const std::string kRequestPartHead =
    "--4242\r\nContent-Disposition: form-data; name=\"request\"\r\nContent-Type: text/xml\r\n\r\n";
const std::string kFilePartHead =
    "--4242\r\nContent-Disposition: form-data; name=\"file\"; filename=\"image.tar\"\r\n"
    "Content-Type: application/octet-stream\r\n\r\n";
const std::string kTail = "\r\n--4242--\r\n";

TEST(HttpRequestBuilder, RequestWithoutPartHasOneBodyPartEndingInOneCrLf) {
    CHttpRequestBuilder builder = MakeBuilder(4242);
    ASSERT_EQ(0, builder.Build(L"vorta-1", L"<doc/>", nullptr));

    EXPECT_EQ(L"POST", builder.GetVerb());
    EXPECT_EQ(L"/firmware-update/firmware-update", builder.GetObjectName());
    EXPECT_EQ(L"http://vorta-1/firmware-update", builder.GetReferrer());
    EXPECT_EQ(L"Content-type: multipart/form-data; boundary=4242", builder.GetHeaders());
    EXPECT_EQ(kRequestPartHead + "<doc/>\r\n", Text(builder.GetBodyHead()));
    EXPECT_TRUE(builder.GetFileData().empty());
    EXPECT_EQ(kTail, Text(builder.GetBodyTail()));

    // Every builder without a part hands out the same empty sequence.
    CHttpRequestBuilder other = MakeBuilder(1);
    ASSERT_EQ(0, other.Build(L"h", L"<x/>", nullptr));
    EXPECT_EQ(&builder.GetFileData(), &other.GetFileData());
}

TEST(HttpRequestBuilder, FilePieceIsThePartsOwnBuffer) {
    CUpdateImagePart part(L"3", L"Main", L"Ver.3.01TC", ByteSequence{0x00, 0xFF, 0x0D, 0x0A},
                          L"digest");
    CHttpRequestBuilder builder = MakeBuilder(4242);
    ASSERT_EQ(0, builder.Build(L"vorta-1", L"<doc/>", &part));

    EXPECT_EQ(kRequestPartHead + "<doc/>\r\n" + kFilePartHead, Text(builder.GetBodyHead()));
    EXPECT_EQ(&part.GetData(), &builder.GetFileData());
    EXPECT_EQ(kTail, Text(builder.GetBodyTail()));
}

TEST(HttpRequestBuilder, EmptyPartStillHasItsFileHeader) {
    CUpdateImagePart part(L"1", L"Empty", L"v", ByteSequence{}, L"");
    CHttpRequestBuilder builder = MakeBuilder(4242);
    ASSERT_EQ(0, builder.Build(L"vorta-1", L"<doc/>", &part));
    EXPECT_EQ(kRequestPartHead + "<doc/>\r\n" + kFilePartHead, Text(builder.GetBodyHead()));
    EXPECT_TRUE(builder.GetFileData().empty());
    EXPECT_EQ(kTail, Text(builder.GetBodyTail()));
}

TEST(HttpRequestBuilder, BoundaryIsThePlainDecimalTick) {
    CHttpRequestBuilder wrapped = MakeBuilder(0xFFFFFFFFu);
    ASSERT_EQ(0, wrapped.Build(L"h", L"<d/>", nullptr));
    EXPECT_EQ(L"Content-type: multipart/form-data; boundary=4294967295", wrapped.GetHeaders());

    CHttpRequestBuilder small = MakeBuilder(7);
    ASSERT_EQ(0, small.Build(L"h", L"<d/>", nullptr));
    EXPECT_EQ(L"Content-type: multipart/form-data; boundary=7", small.GetHeaders());
    EXPECT_EQ("\r\n--7--\r\n", Text(small.GetBodyTail()));
}

TEST(HttpRequestBuilder, DefaultTickFollowsTheMonotonicClockInMilliseconds) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto expected = static_cast<std::uint32_t>(now.tv_sec * 1000ull + now.tv_nsec / 1000000);
    const std::uint32_t tick = CHttpRequestBuilder::MonotonicTickCount();
    EXPECT_LE(static_cast<std::uint32_t>(tick - expected), 1000u);

    CHttpRequestBuilder builder(L"POST", L"r", L"b");
    ASSERT_EQ(0, builder.Build(L"h", L"<d/>", nullptr));
    EXPECT_EQ(
        L"Content-type: multipart/form-data; boundary=" + std::to_wstring(builder.GetBoundary()),
        builder.GetHeaders());
}

TEST(HttpRequestBuilder, EmptyBasePath) {
    CHttpRequestBuilder builder = MakeBuilder(1, L"");
    ASSERT_EQ(0, builder.Build(L"vorta-1", L"<d/>", nullptr));
    EXPECT_EQ(L"http://vorta-1", builder.GetReferrer());
    EXPECT_EQ(L"//firmware-update", builder.GetObjectName());
}

TEST(HttpRequestBuilder, DocumentIsSentAsUtf8AndAnUnencodableOneFailsTheBuild) {
    CHttpRequestBuilder builder = MakeBuilder(4242);
    ASSERT_EQ(0, builder.Build(L"h", L"<d>\u00e9\u30c6</d>", nullptr));
    EXPECT_EQ(kRequestPartHead + "<d>\xC3\xA9\xE3\x83\x86</d>\r\n", Text(builder.GetBodyHead()));

    CUpdateImagePart part(L"1", L"P", L"v", ByteSequence{1}, L"");
    const std::wstring loneSurrogate(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(-1, builder.Build(L"h", L"<d>" + loneSurrogate + L"</d>", &part));
    EXPECT_TRUE(builder.GetBodyHead().empty());
    EXPECT_TRUE(builder.GetBodyTail().empty());
    EXPECT_TRUE(builder.GetHeaders().empty());
    EXPECT_TRUE(builder.GetReferrer().empty());
    EXPECT_TRUE(builder.GetFileData().empty());
}

TEST(HttpRequestBuilder, CloneKeepsConstructionValuesOnly) {
    CHttpRequestBuilder builder(L"POST", L"res", L"base");
    ASSERT_EQ(0, builder.Build(L"h", L"<d/>", nullptr));
    std::unique_ptr<CRequestBuilder> clone(builder.Clone());
    EXPECT_EQ(L"POST", clone->GetVerb());
    EXPECT_TRUE(clone->GetHeaders().empty());
    EXPECT_TRUE(clone->GetBodyHead().empty());
    ASSERT_EQ(0, clone->Build(L"h", L"<d/>", nullptr));
    EXPECT_EQ(L"/base/res", clone->GetObjectName());
    EXPECT_EQ(L"http://h/base", clone->GetReferrer());
}

}  // namespace
}  // namespace talbo::tesk::vorta
