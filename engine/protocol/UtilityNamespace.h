#pragma once

namespace talbo::tesk::vorta {

// The namespace of every utility document: request roots, the response schema's target and
// "tns" prefix, and the key the parser adapter validates responses under.
inline constexpr wchar_t kUtilityNamespace[] = L"http://www.talbo.com/schemas/2012/02/tesk-utility";

}  // namespace talbo::tesk::vorta
