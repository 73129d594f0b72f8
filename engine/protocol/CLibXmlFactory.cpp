#include "engine/protocol/CLibXmlFactory.h"

#include "engine/protocol/CLibXmlParser.h"

namespace talbo::tesk::vorta {

namespace {

CLibXmlFactory theFactory;

}  // namespace

std::unique_ptr<CXMLParserIF> CLibXmlFactory::CreateParser() {
    return std::make_unique<CLibXmlParser>();
}

std::unique_ptr<CXMLParserIF> CreateXMLParser() {
    try {
        return theFactory.CreateParser();
    } catch (...) {
        return {};
    }
}

}  // namespace talbo::tesk::vorta
