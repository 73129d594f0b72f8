#pragma once

#include <memory>

#include "engine/protocol/CXMLParserIF.h"

namespace talbo::tesk::vorta {

// Makes the parsers that read device responses.
class CXMLFactory {
public:
    virtual ~CXMLFactory() = default;
    // A new parser, or null when none can be made.
    virtual std::unique_ptr<CXMLParserIF> CreateParser() = 0;
};

// A new parser from the library's one factory, or null. Never throws.
std::unique_ptr<CXMLParserIF> CreateXMLParser();

}  // namespace talbo::tesk::vorta
