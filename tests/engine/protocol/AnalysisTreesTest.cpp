#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/protocol/AnalysisTrees.h"
#include "engine/protocol/CAnalyzeXMLLeaf.h"
#include "engine/protocol/CAnalyzeXMLRoot.h"
#include "engine/protocol/CXMLFactory.h"
#include "engine/protocol/UpdateConnectionFactory.h"

namespace talbo::tesk::vorta {
namespace {

constexpr wchar_t kNext[] = L"NextState";
const std::vector<std::wstring> kApplications = {L"Print",
                                                 L"WebConfig",
                                                 L"WebContents",
                                                 L"WebContentsUpdater",
                                                 L"Utility",
                                                 L"StatusPrint",
                                                 L"Initialization",
                                                 L"ServerDirectPrint",
                                                 L"StatusNotification",
                                                 L"HIDNotification"};

std::wstring AnotherApp(const std::wstring& name) {
    return L"<additional-data><another-app app-name=\"" + name + L"\"/></additional-data>";
}

std::wstring Response(const std::optional<std::wstring>& success, const std::wstring& inside) {
    return L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
           L"<tesk-utility xmlns=\"http://www.talbo.com/schemas/2012/02/tesk-utility\">"
           L"<update><response" +
           (success ? L" success=\"" + *success + L"\"" : L"") + L">" + inside +
           L"</response></update></tesk-utility>";
}

// Every case is a response the schema accepts, so it is exactly what the trees will see.
std::unique_ptr<CXMLParserIF> LoadValid(const std::wstring& document) {
    std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
    EXPECT_TRUE(parser->Load(document, ResponseSchemaText()))
        << std::string(document.begin(), document.end());
    return parser;
}

struct ModeCase {
    std::optional<std::wstring> success;
    std::wstring inside;
    std::wstring changeMode;
    std::wstring update;
};

std::vector<ModeCase> ModeCases() {
    std::vector<ModeCase> cases = {
        {L"true", L"<reason>InvalidFile</reason>", kNext, kNext},
        {L"true", L"", kNext, kNext},
        {L"false", L"<reason>NotCorrespond</reason>", L"NotCorrespond", L"NotCorrespond"},
        {L"false", L"<reason>AnotherUpdating</reason>", L"AnotherUpdating", L"AnotherUpdating"},
        {L"false", L"<reason>VersionNotSame</reason>", L"VersionNotSame", L"VersionNotSame"},
        {L"false", L"<reason>InvalidFile</reason>", L"InvalidFile", L"InvalidFile"},
        {L"false", L"<reason>OtherError</reason>", L"OtherError", L"OtherError"},
        {L"false", L"<reason>ModeNotChanged</reason>", L"OtherError", L"ModeNotChanged"},
        {L"false", L"<reason>AnotherApp" + AnotherApp(L"print") + L"</reason>", L"OtherError",
         L"OtherError"},
        {L"false", L"<reason>AnotherApp</reason>", L"OtherError", L"OtherError"},
        {L"false", L"<reason>Sleeping</reason>", L"OtherError", L"OtherError"},
        {L"false", L"<reason>invalidfile</reason>", L"OtherError", L"OtherError"},
        {L"false", L"", L"OtherError", L"OtherError"},
        {std::nullopt, L"<reason>InvalidFile</reason>", L"OtherError", L"OtherError"},
        // The first another-app in document order decides, even one under the status.
        {L"false",
         L"<status>AnotherApp" + AnotherApp(L"Print") + L"</status><reason>AnotherApp" +
             AnotherApp(L"Utility") + L"</reason>",
         L"Print", L"Print"},
    };
    for (const std::wstring& name : kApplications) {
        cases.push_back(
            {L"false", L"<reason>AnotherApp" + AnotherApp(name) + L"</reason>", name, name});
    }
    return cases;
}

TEST(AnalysisTrees, ChangeModeAndUpdateTreesMapEveryAnswer) {
    const auto changeMode = BuildChangeModeTree(kNext);
    const auto update = BuildUpdateTree(kNext);
    for (const ModeCase& c : ModeCases()) {
        const auto parser = LoadValid(Response(c.success, c.inside));
        const std::string label(c.inside.begin(), c.inside.end());
        EXPECT_EQ(c.changeMode, changeMode->Analyze(parser.get())) << label;
        EXPECT_EQ(c.update, update->Analyze(parser.get())) << label;
    }
    EXPECT_EQ(L"OtherError", changeMode->Analyze(nullptr));
    EXPECT_EQ(L"OtherError", update->Analyze(nullptr));
}

struct TestCase {
    std::optional<std::wstring> success;
    std::wstring inside;
    std::wstring modelName;
    std::wstring version;
    std::wstring status;
};

constexpr wchar_t kUnchanged[] = L"(unchanged)";
const std::wstring kDevice = L"<model-name>VX-100</model-name><version>Ver.2.00</version>";

std::vector<TestCase> CommunicationTestCases() {
    std::vector<TestCase> cases = {
        {L"true", kDevice + L"<status>Idle</status>", L"VX-100", L"Ver.2.00", L"Idle"},
        {L"true", kDevice + L"<status>AnotherUpdating</status>", L"VX-100", L"Ver.2.00",
         L"AnotherUpdating"},
        {L"true", kDevice + L"<status>SelfUpdating</status>", L"VX-100", L"Ver.2.00",
         L"SelfUpdating"},
        {L"true", L"<status>Idle</status>", L"", L"", L"Idle"},
        {L"true",
         kDevice + L"<status>Broken<additional-data><update-not-complete progress=\"5\" "
                   L"version=\"Ver.3.01TC\"/></additional-data></status>",
         L"VX-100", L"Ver.2.00", L"5"},
        {L"true", kDevice + L"<status>Broken</status>", L"VX-100", L"Ver.2.00", L""},
        // Only digits name a part: a result's name there is no part and no result.
        {L"true",
         kDevice + L"<status>Broken<additional-data><update-not-complete progress=\"SameVersion\""
                   L"/></additional-data></status>",
         L"VX-100", L"Ver.2.00", L""},
        {L"true",
         kDevice + L"<status>Broken<additional-data><update-not-complete progress=\" 5\""
                   L"/></additional-data></status>",
         L"VX-100", L"Ver.2.00", L""},
        {L"true", kDevice + L"<status>AnotherApp" + AnotherApp(L"print") + L"</status>", L"VX-100",
         L"Ver.2.00", L"OtherError"},
        {L"true", kDevice + L"<status>AnotherApp</status>", L"VX-100", L"Ver.2.00", L"OtherError"},
        {L"true", kDevice + L"<status>Sleeping</status>", L"VX-100", L"Ver.2.00", L"OtherError"},
        {L"true", kDevice, L"VX-100", L"Ver.2.00", L"OtherError"},
        {L"false", kDevice + L"<reason>ModelNameFailed</reason>", kUnchanged, kUnchanged,
         L"ModelNameFailed"},
        {L"false", L"<reason>VersionFailed</reason>", kUnchanged, kUnchanged, L"VersionFailed"},
        {L"false", L"<reason>StatusFailed</reason>", kUnchanged, kUnchanged, L"StatusFailed"},
        {L"false", L"<status>Idle</status><reason>Busy</reason>", kUnchanged, kUnchanged,
         L"OtherError"},
        {L"false", L"", kUnchanged, kUnchanged, L"OtherError"},
        {std::nullopt, kDevice + L"<status>Idle</status>", kUnchanged, kUnchanged, L"OtherError"},
    };
    for (const std::wstring& name : kApplications) {
        cases.push_back({L"true", kDevice + L"<status>AnotherApp" + AnotherApp(name) + L"</status>",
                         L"VX-100", L"Ver.2.00", name});
    }
    return cases;
}

TEST(AnalysisTrees, CommunicationTestReadsEveryAnswer) {
    const CCommunicationTestTrees trees;
    for (const TestCase& c : CommunicationTestCases()) {
        const auto parser = LoadValid(Response(c.success, c.inside));
        std::wstring modelName = kUnchanged;
        std::wstring version = kUnchanged;
        std::wstring status = kUnchanged;
        const std::string label(c.inside.begin(), c.inside.end());
        ASSERT_TRUE(
            AnalyzeCommunicationTestResponse(trees, parser.get(), modelName, version, status))
            << label;
        EXPECT_EQ(c.modelName, modelName) << label;
        EXPECT_EQ(c.version, version) << label;
        EXPECT_EQ(c.status, status) << label;
    }
}

TEST(AnalysisTrees, CommunicationTestWithoutResponseElementTouchesNothing) {
    const CCommunicationTestTrees trees;
    std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
    ASSERT_TRUE(parser->Load(L"<tesk-utility><update><other/></update></tesk-utility>", L""));
    std::wstring modelName = kUnchanged;
    std::wstring version = kUnchanged;
    std::wstring status = kUnchanged;
    EXPECT_FALSE(AnalyzeCommunicationTestResponse(trees, parser.get(), modelName, version, status));
    EXPECT_FALSE(AnalyzeCommunicationTestResponse(trees, nullptr, modelName, version, status));
    EXPECT_EQ(kUnchanged, modelName);
    EXPECT_EQ(kUnchanged, version);
    EXPECT_EQ(kUnchanged, status);
}

TEST(AnalysisTrees, PuttingUnderAnExistingKeyReplacesTheNode) {
    CAnalyzeXMLRootAttribute root(L"response", L"success", L"default");
    root.PutChild(L"true", std::make_unique<CAnalyzeXMLLeaf>(L"first"));
    root.PutChild(L"true", std::make_unique<CAnalyzeXMLLeaf>(L"second"));
    const auto parser = LoadValid(Response(L"true", L""));
    EXPECT_EQ(L"second", root.Analyze(parser.get()));
    EXPECT_EQ(L"default", root.Analyze(nullptr));
}

}  // namespace
}  // namespace talbo::tesk::vorta
