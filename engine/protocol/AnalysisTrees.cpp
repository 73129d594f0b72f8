#include "engine/protocol/AnalysisTrees.h"

#include <initializer_list>

#include "engine/protocol/CAnalyzeXMLLeaf.h"
#include "engine/protocol/CAnalyzeXMLLeafValue.h"
#include "engine/protocol/CAnalyzeXMLRoot.h"
#include "engine/protocol/CXMLParserIF.h"

namespace talbo::tesk::vorta {

namespace {

// The applications a device may name as keeping it busy; each stands for itself.
constexpr const wchar_t* kApplicationNames[] = {
    L"Print",
    L"WebConfig",
    L"WebContents",
    L"WebContentsUpdater",
    L"Utility",
    L"StatusPrint",
    L"Initialization",
    L"ServerDirectPrint",
    L"StatusNotification",
    L"HIDNotification",
};

void PutLeaves(CAnalyzeXMLRoot& node, std::initializer_list<const wchar_t*> texts) {
    for (const wchar_t* text : texts) {
        node.PutChild(text, std::make_unique<CAnalyzeXMLLeaf>(text));
    }
}

std::unique_ptr<CAnalyzeXMLRoot> MakeApplicationNameNode() {
    auto node =
        std::make_unique<CAnalyzeXMLRootAttribute>(L"another-app", L"app-name", kOtherError);
    for (const wchar_t* name : kApplicationNames) {
        node->PutChild(name, std::make_unique<CAnalyzeXMLLeaf>(name));
    }
    return node;
}

std::unique_ptr<CAnalyzeXMLRoot> MakeSuccessNode() {
    return std::make_unique<CAnalyzeXMLRootAttribute>(L"response", L"success", kOtherError);
}

std::unique_ptr<CAnalyzeXMLRoot> MakeFailureReasonTree(const std::wstring& nextName,
                                                       bool knowsModeNotChanged) {
    auto top = MakeSuccessNode();
    top->PutChild(L"true", std::make_unique<CAnalyzeXMLLeaf>(nextName));
    auto& reason =
        top->PutChild(L"false", std::make_unique<CAnalyzeXMLRootElement>(L"reason", kOtherError));
    PutLeaves(reason, {L"NotCorrespond", L"AnotherUpdating", L"VersionNotSame", L"InvalidFile",
                       kOtherError});
    reason.PutChild(L"AnotherApp", MakeApplicationNameNode());
    if (knowsModeNotChanged) {
        PutLeaves(reason, {L"ModeNotChanged"});
    }
    return top;
}

std::unique_ptr<CAnalyzeXML> MakeTextOnSuccessTree(const wchar_t* elementName) {
    auto top = MakeSuccessNode();
    top->PutChild(L"true", std::make_unique<CAnalyzeXMLLeafValueElement>(elementName));
    return top;
}

}  // namespace

bool IsApplicationName(std::wstring_view text) {
    for (const wchar_t* name : kApplicationNames) {
        if (text == name) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<CAnalyzeXML> BuildChangeModeTree(const std::wstring& nextName) {
    return MakeFailureReasonTree(nextName, false);
}

std::unique_ptr<CAnalyzeXML> BuildUpdateTree(const std::wstring& nextName) {
    return MakeFailureReasonTree(nextName, true);
}

std::unique_ptr<CAnalyzeXML> BuildModelNameTree() {
    return MakeTextOnSuccessTree(L"model-name");
}

std::unique_ptr<CAnalyzeXML> BuildVersionTree() {
    return MakeTextOnSuccessTree(L"version");
}

std::unique_ptr<CAnalyzeXML> BuildStatusTree() {
    auto top = MakeSuccessNode();
    auto& status =
        top->PutChild(L"true", std::make_unique<CAnalyzeXMLRootElement>(L"status", kOtherError));
    PutLeaves(status, {L"Idle", L"AnotherUpdating", L"SelfUpdating"});
    status.PutChild(L"Broken", std::make_unique<CAnalyzeXMLLeafPartNumber>(L"update-not-complete",
                                                                           L"progress"));
    status.PutChild(L"AnotherApp", MakeApplicationNameNode());
    auto& reason =
        top->PutChild(L"false", std::make_unique<CAnalyzeXMLRootElement>(L"reason", kOtherError));
    PutLeaves(reason, {L"ModelNameFailed", L"VersionFailed", L"StatusFailed"});
    return top;
}

bool AnalyzeCommunicationTestResponse(const CCommunicationTestTrees& trees,
                                      const CXMLParserIF* parser, std::wstring& modelName,
                                      std::wstring& version, std::wstring& status) {
    std::wstring success;
    if (parser == nullptr || !parser->GetAttribute(L"response", L"success", success)) {
        return false;
    }
    if (success == L"true") {
        modelName = trees.modelNameTree->Analyze(parser);
        version = trees.versionTree->Analyze(parser);
        status = trees.statusTree->Analyze(parser);
    } else if (success == L"false") {
        status = trees.statusTree->Analyze(parser);
    } else {
        status = kOtherError;
    }
    return true;
}

}  // namespace talbo::tesk::vorta
