#pragma once
// Checks one request body as it arrives: the multipart framing, the "request" part with its
// document, the "file" part digested on the fly and compared with the announced file-digest.
// Nothing of the file part is kept. The first fault found is kept with the refusal reason it
// earns: "InvalidFile" for the file part, "OtherError" for everything else.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "simulator/CMd5Stream.h"
#include "simulator/CMultipartScanner.h"
#include "simulator/CPipelinedMd5.h"
#include "simulator/CRequestDocumentReader.h"

namespace talbo::tesk::vorta::devsim {

class CUploadInspector : private CMultipartSink {
public:
    // contentType: the request's Content-Type header, null when it has none.
    CUploadInspector(const char* contentType, std::optional<std::uint64_t> contentLength);
    CUploadInspector(const CUploadInspector&) = delete;
    CUploadInspector& operator=(const CUploadInspector&) = delete;

    void Feed(std::string_view bytes);
    void Finish();

    // True once, when the request is known well enough to decide its faults: its document has
    // been read and, with a file, the file part has begun (or the body ended).
    bool TakeClassification();

    std::uint64_t BodyBytes() const { return bodyBytes_; }
    const std::string& Boundary() const { return boundary_; }
    const std::optional<RequestDocument>& Document() const { return document_; }
    const std::string& RequestTypeText() const { return requestTypeText_; }
    bool FileSeen() const { return fileSeen_; }
    std::uint64_t FileBytes() const { return fileBytes_; }
    const std::string& FileMd5() const { return fileMd5_; }
    // Known once the body has ended with a file part.
    std::optional<bool> DigestMatches() const { return digestMatches_; }
    // The file size the declared length leaves for the file part, once that part has begun.
    std::optional<std::uint64_t> ExpectedFileSize() const { return expectedFileSize_; }

    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    const std::string& ErrorReason() const { return errorReason_; }
    // Whether the faults in the body concern the file part only (the document was fine).
    bool FileProblemOnly() const { return !Ok() && errorReason_ == "InvalidFile"; }

private:
    enum class Part { None, Request, File, Extra };

    void OnPartBegin(const std::vector<PartHeader>& headers) override;
    void OnPartData(std::string_view bytes) override;
    void OnPartEnd() override;

    void Fail(std::string reason, std::string message);
    void ReadRequestPart();
    void DigestFileBytes(std::string_view bytes);
    std::string FinishFileDigest();
    bool CheckHeaders(const std::vector<PartHeader>& headers, std::string_view disposition,
                      std::string_view type, std::string& problem) const;

    std::optional<std::uint64_t> contentLength_;
    std::string boundary_;
    std::string headerProblem_;  // what is wrong with the Content-Type header, if anything
    std::optional<CMultipartScanner> scanner_;
    std::uint64_t bodyBytes_ = 0;
    Part part_ = Part::None;
    int partCount_ = 0;
    std::string requestPart_;
    std::optional<RequestDocument> document_;
    std::string requestTypeText_;
    bool fileSeen_ = false;
    std::uint64_t fileBytes_ = 0;
    // Large files are digested on a helper thread while they arrive; small ones at once.
    std::optional<CPipelinedMd5> pipelinedMd5_;
    CMd5Stream md5_;
    std::string fileMd5_;
    std::optional<bool> digestMatches_;
    std::optional<std::uint64_t> expectedFileSize_;
    bool classified_ = false;
    bool classificationTaken_ = false;
    std::string error_;
    std::string errorReason_;
    bool finished_ = false;
};

}  // namespace talbo::tesk::vorta::devsim
