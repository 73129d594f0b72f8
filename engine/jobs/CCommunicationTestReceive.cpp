#include "engine/jobs/CCommunicationTestReceive.h"

#include "engine/jobs/ResultNames.h"
#include "engine/model/CUpdateModelIF.h"

namespace talbo::tesk::vorta {

CCommunicationTestReceive::CCommunicationTestReceive(CUpdateModelIF* model, std::wstring nextName)
    : CReceiveXMLState(model), nextName(std::move(nextName)) {}

CCommunicationTestReceive::~CCommunicationTestReceive() = default;

std::wstring CCommunicationTestReceive::Execute(const std::wstring& hostName) {
    // Cleared first, so that one device's answer never shows up under another.
    text.clear();
    modelName.clear();
    version.clear();
    std::wstring result = CReceiveXMLState::Execute(hostName);
    bool stored = model->SetDeviceValue(hostName, L"modelname", modelName);
    stored = model->SetDeviceValue(hostName, L"version", version) && stored;
    stored = model->SetDeviceValue(hostName, L"accesstest", text) && stored;
    return stored ? result : std::wstring(kResultOtherError);
}

std::wstring CCommunicationTestReceive::Analyze(const CXMLParserIF& parser) {
    if (!AnalyzeCommunicationTestResponse(trees, &parser, modelName, version, text)) {
        return kResultOtherError;  // no "response" element
    }
    return nextName;
}

}  // namespace talbo::tesk::vorta
