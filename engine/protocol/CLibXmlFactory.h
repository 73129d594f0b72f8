#pragma once

#include "engine/protocol/CXMLFactory.h"

namespace talbo::tesk::vorta {

// Makes libxml2 parsers.
class CLibXmlFactory : public CXMLFactory {
public:
    std::unique_ptr<CXMLParserIF> CreateParser() override;
};

}  // namespace talbo::tesk::vorta
