#include "engine/model/CBasicRCXFileParser.h"

namespace talbo::tesk::vorta {

// Stand-in until the image parser is built.
int CBasicRCXFileParser::ParseFile(CUpdateImagePartList&) { return -1; }

}  // namespace talbo::tesk::vorta
