#pragma once
// The request documents the engine sends to a device.

#include <string>

namespace talbo::tesk::vorta {

class CUpdateImagePart;

inline constexpr wchar_t kGetInformationRequest[] = L"GetInformation";
inline constexpr wchar_t kChangeModeRequest[] = L"ChangeMode";
inline constexpr wchar_t kUpdateRequest[] = L"Update";

// Appends the "GetInformation" document (model name, version, status). 0, or -1 when the
// computer has no usable MAC address (nothing is appended then).
int AppendGetInformationDocument(std::wstring& document);

// Appends a "ChangeMode" or "Update" document announcing the part's firmware version and
// digest. 0, or -1 when the computer has no usable MAC address (nothing is appended then).
int AppendImagePartDocument(const std::wstring& requestType, const CUpdateImagePart& part,
                            std::wstring& document);

// The text with the characters XML reserves written as references; other text is unchanged.
std::wstring EscapeXmlText(const std::wstring& text);

}  // namespace talbo::tesk::vorta
