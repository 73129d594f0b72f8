#pragma once

#include <string>

#include "engine/model/ByteSequence.h"

namespace talbo::tesk::vorta {

class CUpdateImagePart;

// Turns a host name, a request document and an optional image part into everything one request
// needs. The getters return the builder's own fields, valid until the next Build.
class CRequestBuilder {
public:
    virtual ~CRequestBuilder() = default;

    // A new builder of the same class and construction values; nothing built.
    virtual CRequestBuilder* Clone() const = 0;
    // 0 or -1.
    virtual int Build(const std::wstring& hostName, const std::wstring& document,
                      const CUpdateImagePart* part) = 0;
    // Frees everything the last Build made; the getters then give empty values until the next
    // Build. The construction values stay.
    virtual void Discard() noexcept = 0;
    virtual const std::wstring& GetVerb() const = 0;
    virtual const std::wstring& GetHeaders() const = 0;
    virtual const ByteSequence& GetBodyHead() const = 0;
    // The part's bytes; one shared empty sequence when there is no part.
    virtual const ByteSequence& GetFileData() const = 0;
    virtual const ByteSequence& GetBodyTail() const = 0;
    virtual const std::wstring& GetObjectName() const = 0;
    virtual const std::wstring& GetReferrer() const = 0;
};

}  // namespace talbo::tesk::vorta
