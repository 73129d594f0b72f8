#pragma once
// The analysis trees of the receive states: each turns a loaded device response into the name
// of the next state or a result name.

#include <memory>
#include <string>
#include <string_view>

#include "engine/protocol/CAnalyzeXML.h"

namespace talbo::tesk::vorta {

class CXMLParserIF;

inline constexpr wchar_t kOtherError[] = L"OtherError";

// Whether the text is one of the names under which a device reports the application that keeps
// it busy ("Print", "WebConfig", ...); each is also the result name of that refusal.
bool IsApplicationName(std::wstring_view text);

// success "true" gives nextName; "false" gives the device's reason ("NotCorrespond",
// "AnotherUpdating", "VersionNotSame", "InvalidFile", "OtherError", or for "AnotherApp" the
// busy application's name); anything else "OtherError".
std::unique_ptr<CAnalyzeXML> BuildChangeModeTree(const std::wstring& nextName);
// The change-mode tree that also knows the reason "ModeNotChanged".
std::unique_ptr<CAnalyzeXML> BuildUpdateTree(const std::wstring& nextName);

// The three trees of the communication test: the model name and the version (the element's
// text when success is "true", else "OtherError"), and the status ("Idle", "AnotherUpdating",
// "SelfUpdating", the progress of a "Broken" update, the application of "AnotherApp"; for
// success "false" the reason "ModelNameFailed", "VersionFailed" or "StatusFailed").
std::unique_ptr<CAnalyzeXML> BuildModelNameTree();
std::unique_ptr<CAnalyzeXML> BuildVersionTree();
std::unique_ptr<CAnalyzeXML> BuildStatusTree();

struct CCommunicationTestTrees {
    std::unique_ptr<CAnalyzeXML> modelNameTree = BuildModelNameTree();
    std::unique_ptr<CAnalyzeXML> versionTree = BuildVersionTree();
    std::unique_ptr<CAnalyzeXML> statusTree = BuildStatusTree();
};

// Reads a communication-test response into the three texts. False, with the texts untouched,
// when the response has no "response" element. Success "true" sets all three; "false" sets only
// the status; any other value (or none) sets the status to "OtherError".
bool AnalyzeCommunicationTestResponse(const CCommunicationTestTrees& trees,
                                      const CXMLParserIF* parser, std::wstring& modelName,
                                      std::wstring& version, std::wstring& status);

}  // namespace talbo::tesk::vorta
