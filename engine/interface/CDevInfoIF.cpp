#include "engine/interface/CDevInfoIF.h"

namespace talbo::tesk::vorta {

// Defined here so that the class's virtual table and special members are exported symbols
// of the library.
CDevInfoIF::CDevInfoIF() = default;
CDevInfoIF::CDevInfoIF(const CDevInfoIF&) = default;
CDevInfoIF& CDevInfoIF::operator=(const CDevInfoIF&) = default;
CDevInfoIF::~CDevInfoIF() = default;

}  // namespace talbo::tesk::vorta
