#include "simulator/CUploadInspector.h"

#include <algorithm>
#include <cctype>

namespace talbo::tesk::vorta::devsim {
namespace {

constexpr std::size_t kMaxRequestPart = 64 * 1024;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

CUploadInspector::CUploadInspector(const char* contentType,
                                   std::optional<std::uint64_t> contentLength)
    : contentLength_(contentLength) {
    // An empty body (the priming request) needs no Content-Type: a problem with it counts only
    // once body bytes arrive.
    if (contentType == nullptr) {
        headerProblem_ = "request has no Content-Type header";
        return;
    }
    boundary_ = BoundaryFromContentType(contentType, headerProblem_);
    if (!boundary_.empty()) {
        scanner_.emplace(boundary_, static_cast<CMultipartSink&>(*this));
    }
}

void CUploadInspector::Fail(std::string reason, std::string message) {
    if (error_.empty()) {
        error_ = std::move(message);
        errorReason_ = std::move(reason);
    }
}

void CUploadInspector::Feed(std::string_view bytes) {
    bodyBytes_ += bytes.size();
    if (!scanner_ && !bytes.empty()) {
        Fail("OtherError", headerProblem_);
    }
    if (!scanner_ || scanner_->Failed()) {
        return;
    }
    if (!scanner_->Feed(bytes)) {
        Fail(part_ == Part::File ? "InvalidFile" : "OtherError", scanner_->Error());
    }
}

void CUploadInspector::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (bodyBytes_ == 0) {
        classified_ = true;
        return;
    }
    if (scanner_ && !scanner_->Failed() && !scanner_->Finish()) {
        Fail(part_ == Part::File ? "InvalidFile" : "OtherError", scanner_->Error());
    }
    if (document_ && document_->type != RequestType::GetInformation) {
        if (!fileSeen_) {
            Fail("InvalidFile",
                 std::string(RequestTypeName(document_->type)) + " request has no \"file\" part");
        } else if (!fileMd5_.empty() || Ok()) {
            if (fileMd5_.empty()) {
                fileMd5_ = FinishFileDigest();
            }
            digestMatches_ = fileMd5_ == document_->fileDigest;
            if (!*digestMatches_) {
                Fail("InvalidFile", "file-digest " + document_->fileDigest +
                                        " does not match the MD5 " + fileMd5_ + " of the " +
                                        std::to_string(fileBytes_) + " file bytes");
            }
        }
    }
    classified_ = true;
}

bool CUploadInspector::TakeClassification() {
    if (classified_ && !classificationTaken_) {
        classificationTaken_ = true;
        return true;
    }
    return false;
}

bool CUploadInspector::CheckHeaders(const std::vector<PartHeader>& headers,
                                    std::string_view disposition, std::string_view type,
                                    std::string& problem) const {
    const std::string* dispositionValue = nullptr;
    const std::string* typeValue = nullptr;
    for (const auto& header : headers) {
        const std::string** slot = EqualsNoCase(header.name, "Content-Disposition")
                                       ? &dispositionValue
                                   : EqualsNoCase(header.name, "Content-Type") ? &typeValue
                                                                               : nullptr;
        if (slot == nullptr) {
            problem = "unexpected part header \"" + header.name + "\"";
            return false;
        }
        if (*slot != nullptr) {
            problem = "part header \"" + header.name + "\" appears twice";
            return false;
        }
        *slot = &header.value;
    }
    if (dispositionValue == nullptr || *dispositionValue != disposition) {
        problem = "Content-Disposition is " +
                  (dispositionValue ? "\"" + *dispositionValue + "\"" : std::string("missing")) +
                  ", expected \"" + std::string(disposition) + "\"";
        return false;
    }
    if (typeValue == nullptr || *typeValue != type) {
        problem = "Content-Type of the part is " +
                  (typeValue ? "\"" + *typeValue + "\"" : std::string("missing")) +
                  ", expected \"" + std::string(type) + "\"";
        return false;
    }
    return true;
}

void CUploadInspector::OnPartBegin(const std::vector<PartHeader>& headers) {
    ++partCount_;
    std::string problem;
    if (partCount_ == 1) {
        part_ = Part::Request;
        if (!CheckHeaders(headers, "form-data; name=\"request\"", "text/xml", problem)) {
            Fail("OtherError", "first part: " + problem);
        }
        return;
    }
    if (partCount_ == 2 && document_ && document_->type != RequestType::GetInformation) {
        part_ = Part::File;
        fileSeen_ = true;
        if (!CheckHeaders(headers, "form-data; name=\"file\"; filename=\"image.tar\"",
                          "application/octet-stream", problem)) {
            Fail("InvalidFile", "file part: " + problem);
        }
        if (contentLength_) {
            // What remains after this point is the file data and the closing CR LF "--" B "--" CR
            // LF.
            std::uint64_t tail = boundary_.size() + 8;
            std::uint64_t consumed = scanner_->BytesSeen();
            if (*contentLength_ >= consumed + tail) {
                expectedFileSize_ = *contentLength_ - consumed - tail;
            }
        }
        classified_ = true;
        return;
    }
    part_ = Part::Extra;
    if (partCount_ == 2 && document_) {
        Fail("OtherError", "GetInformation request carries a second part");
    } else if (partCount_ == 2) {
        Fail("OtherError", "second part follows a request part that could not be read");
    } else {
        Fail("OtherError", "body has more than two parts");
    }
}

void CUploadInspector::OnPartData(std::string_view bytes) {
    switch (part_) {
        case Part::Request:
            if (requestPart_.size() + bytes.size() > kMaxRequestPart) {
                Fail("OtherError",
                     "request part is longer than " + std::to_string(kMaxRequestPart) + " bytes");
                part_ = Part::Extra;
                return;
            }
            requestPart_.append(bytes);
            break;
        case Part::File:
            fileBytes_ += bytes.size();
            DigestFileBytes(bytes);
            break;
        default:
            break;
    }
}

void CUploadInspector::OnPartEnd() {
    if (part_ == Part::Request) {
        ReadRequestPart();
    } else if (part_ == Part::File) {
        fileMd5_ = FinishFileDigest();
    }
    part_ = Part::None;
}

void CUploadInspector::DigestFileBytes(std::string_view bytes) {
    constexpr std::uint64_t kPipelineFrom = 4 << 20;
    if (!pipelinedMd5_ && fileBytes_ == bytes.size() && expectedFileSize_ &&
        *expectedFileSize_ >= kPipelineFrom) {
        pipelinedMd5_.emplace();
    }
    if (pipelinedMd5_) {
        pipelinedMd5_->Update(bytes);
    } else {
        md5_.Update(bytes);
    }
}

std::string CUploadInspector::FinishFileDigest() {
    return pipelinedMd5_ ? pipelinedMd5_->FinishHex() : md5_.FinishHex();
}

// A request without a file ends its part with one CR LF after the document; one with a file
// holds exactly the document.
void CUploadInspector::ReadRequestPart() {
    auto reading = ReadRequestDocument(requestPart_);
    std::string_view trimmed = requestPart_;
    bool endsInCrLf = trimmed.size() >= 2 && trimmed.substr(trimmed.size() - 2) == "\r\n";
    if (!reading.document && endsInCrLf) {
        trimmed.remove_suffix(2);
        auto retry = ReadRequestDocument(trimmed);
        if (retry.document) {
            requestTypeText_ = retry.requestType;
            if (retry.document->type == RequestType::GetInformation) {
                document_ = std::move(retry.document);
                if (document_ && Ok()) {
                    classified_ = true;
                }
                return;
            }
            Fail("OtherError", std::string(RequestTypeName(retry.document->type)) +
                                   " request part holds CR LF after the document");
            document_ = std::move(retry.document);
            return;
        }
    }
    requestTypeText_ = reading.requestType;
    if (!reading.document) {
        Fail("OtherError", "request document: " + reading.error);
        return;
    }
    document_ = std::move(reading.document);
    if (document_->type == RequestType::GetInformation) {
        Fail("OtherError", "GetInformation request part lacks the CR LF after the document");
        classified_ = true;
    }
}

}  // namespace talbo::tesk::vorta::devsim
