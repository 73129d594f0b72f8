#include "engine/protocol/CHttpRequestBuilder.h"

#include <time.h>

#include <optional>

#include "common/Utf8.h"
#include "engine/model/CUpdateImagePart.h"

namespace talbo::tesk::vorta {

namespace {

constexpr wchar_t kCrLf[] = L"\r\n";

// A piece is assembled as wide text and converted as a whole; a conversion that fails or
// yields nothing fails the build.
bool EncodePiece(const std::wstring& text, ByteSequence& out) {
    const std::optional<std::string> encoded = common::EncodeUtf8(text);
    if (!encoded || encoded->empty()) {
        return false;
    }
    out.assign(encoded->begin(), encoded->end());
    return true;
}

}  // namespace

CHttpRequestBuilder::CHttpRequestBuilder(std::wstring verb, std::wstring resourceName,
                                         std::wstring basePath)
    : verb(std::move(verb)),
      resourceName(std::move(resourceName)),
      basePath(std::move(basePath)),
      tickSource(&CHttpRequestBuilder::MonotonicTickCount) {}

CRequestBuilder* CHttpRequestBuilder::Clone() const {
    return new CHttpRequestBuilder(verb, resourceName, basePath);
}

std::uint32_t CHttpRequestBuilder::MonotonicTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

const ByteSequence& CHttpRequestBuilder::GetFileData() const {
    static const ByteSequence noFileData;
    return part != nullptr ? part->GetData() : noFileData;
}

void CHttpRequestBuilder::Reset() {
    referrer.clear();
    headers.clear();
    bodyHead.clear();
    bodyTail.clear();
    part = nullptr;
}

void CHttpRequestBuilder::Discard() noexcept {
    // Swapped with empty ones, as clear() would keep the storage.
    std::wstring().swap(objectName);
    std::wstring().swap(referrer);
    std::wstring().swap(headers);
    ByteSequence().swap(bodyHead);
    ByteSequence().swap(bodyTail);
    part = nullptr;
}

int CHttpRequestBuilder::Build(const std::wstring& hostName, const std::wstring& document,
                               const CUpdateImagePart* imagePart) {
    try {
        Reset();
        referrer = L"http://" + hostName;
        if (!basePath.empty()) {
            referrer += L"/" + basePath;
        }
        objectName = L"/" + basePath + L"/" + resourceName;
        boundary = tickSource ? tickSource() : MonotonicTickCount();
        const std::wstring b = std::to_wstring(boundary);
        headers = L"Content-type: multipart/form-data; boundary=" + b;

        std::wstring head;
        head += L"--" + b + kCrLf;
        head += L"Content-Disposition: form-data; name=\"request\"";
        head += kCrLf;
        head += L"Content-Type: text/xml\r\n\r\n";
        head += document;
        head += kCrLf;
        if (imagePart != nullptr) {
            head += L"--" + b + kCrLf;
            head += L"Content-Disposition: form-data; name=\"file\"; filename=\"image.tar\"";
            head += kCrLf;
            head += L"Content-Type: application/octet-stream\r\n\r\n";
        }
        if (!EncodePiece(head, bodyHead)) {
            Reset();
            return -1;
        }
        part = imagePart;
        if (!EncodePiece(kCrLf + (L"--" + b) + L"--" + kCrLf, bodyTail)) {
            Reset();
            return -1;
        }
        return 0;
    } catch (...) {
        Reset();
        return -1;
    }
}

}  // namespace talbo::tesk::vorta
