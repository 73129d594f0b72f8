#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/protocol/CRequestBuilder.h"

namespace talbo::tesk::vorta {

// Builds a multipart/form-data POST: the document as the part "request" and, when an image part
// is given, its bytes as the part "file". The body is kept as three pieces (head, the image
// part's own bytes, tail) so that the bytes of the image are never copied.
class CHttpRequestBuilder : public CRequestBuilder {
public:
    // Milliseconds since an arbitrary start, 32 bits, wrapping; the boundary is taken from it.
    using TickSource = std::function<std::uint32_t()>;

    CHttpRequestBuilder(std::wstring verb, std::wstring resourceName, std::wstring basePath);

    CRequestBuilder* Clone() const override;
    int Build(const std::wstring& hostName, const std::wstring& document,
              const CUpdateImagePart* part) override;
    void Discard() noexcept override;
    const std::wstring& GetVerb() const override { return verb; }
    const std::wstring& GetHeaders() const override { return headers; }
    const ByteSequence& GetBodyHead() const override { return bodyHead; }
    const ByteSequence& GetFileData() const override;
    const ByteSequence& GetBodyTail() const override { return bodyTail; }
    const std::wstring& GetObjectName() const override { return objectName; }
    const std::wstring& GetReferrer() const override { return referrer; }

    std::uint32_t GetBoundary() const { return boundary; }
    // Replaces the monotonic millisecond clock (tests of the boundary text).
    void SetTickSource(TickSource source) { tickSource = std::move(source); }

    // The default tick source: CLOCK_MONOTONIC in milliseconds, truncated to 32 bits.
    static std::uint32_t MonotonicTickCount();

private:
    void Reset();

    std::wstring verb;
    std::wstring resourceName;
    std::wstring objectName;
    std::wstring basePath;
    std::wstring referrer;
    std::wstring headers;
    ByteSequence bodyHead;
    ByteSequence bodyTail;
    std::uint32_t boundary = 0;
    const CUpdateImagePart* part = nullptr;
    TickSource tickSource;
};

}  // namespace talbo::tesk::vorta
