#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/model/ByteSequence.h"

namespace talbo::tesk::vorta {

// One data block of the update image with its step number, name, the firmware version it
// brings and its MD5 digest text. Owned by the model's image part list.
class CUpdateImagePart {
public:
    // Takes over texts and bytes without copying them.
    CUpdateImagePart(std::wstring number, std::wstring name, std::wstring afterVersion,
                     ByteSequence data, std::wstring digest)
        : number(std::move(number)),
          name(std::move(name)),
          afterVersion(std::move(afterVersion)),
          data(std::move(data)),
          digest(std::move(digest)) {}

    CUpdateImagePart(const CUpdateImagePart&) = delete;
    CUpdateImagePart& operator=(const CUpdateImagePart&) = delete;

    std::wstring GetNumber() const { return number; }
    std::wstring GetName() const { return name; }
    std::wstring GetAfterVersion() const { return afterVersion; }
    std::wstring GetDigest() const { return digest; }

    // The block's bytes, read in place by the request builder (never copied).
    const ByteSequence& GetData() const { return data; }

private:
    std::wstring number;
    std::wstring name;
    std::wstring afterVersion;
    ByteSequence data;
    std::wstring digest;
};

using CUpdateImagePartList = std::vector<std::unique_ptr<CUpdateImagePart>>;

}  // namespace talbo::tesk::vorta
