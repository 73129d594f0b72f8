#pragma once

#include <string>

#include "engine/model/CUpdateImagePart.h"

namespace talbo::tesk::vorta {

// Turns an update image file into image parts.
class CIniFileParser {
public:
    virtual ~CIniFileParser() = default;
    // 0 on success, with the new parts appended to parts in block order (the caller owns
    // them); -1 on failure, with nothing appended.
    virtual int Parse(const std::wstring& path, CUpdateImagePartList& parts) = 0;
};

}  // namespace talbo::tesk::vorta
