#pragma once

#include <memory>

#include "engine/jobs/CReceiveXMLState.h"
#include "engine/protocol/AnalysisTrees.h"

namespace talbo::tesk::vorta {

// Receives the "GetInformation" answer and stores the device's model name, version and status
// ("modelname", "version", "accesstest").
class CCommunicationTestReceive : public CReceiveXMLState {
public:
    CCommunicationTestReceive(CUpdateModelIF* model, std::wstring nextName);
    ~CCommunicationTestReceive() override;

    // nextName after every analysed answer (the device's condition travels in its status);
    // the receive failures otherwise. The three values are written in every case.
    std::wstring Execute(const std::wstring& hostName) override;

protected:
    std::wstring Analyze(const CXMLParserIF& parser) override;

private:
    // The status found by the last Execute is kept in the receive state's text slot.
    std::wstring modelName;
    std::wstring version;
    std::wstring nextName;
    CCommunicationTestTrees trees;  // model name, version and status trees
};

}  // namespace talbo::tesk::vorta
