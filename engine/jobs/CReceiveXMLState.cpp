#include "engine/jobs/CReceiveXMLState.h"

#include "engine/jobs/ResultNames.h"
#include "engine/model/CUpdateModelIF.h"
#include "engine/protocol/CXMLFactory.h"

namespace talbo::tesk::vorta {

std::wstring CReceiveXMLState::Execute(const std::wstring& hostName) {
    std::wstring body;
    std::wstring received = ReceiveBody(hostName, body);
    if (received != kResultIdle) {
        return received;
    }
    const std::wstring& schema = model->GetResponseSchema();
    const std::unique_ptr<CXMLParserIF> parser = CreateXMLParser();
    if (!parser) {
        return kResultOtherError;
    }
    return parser->Load(body, schema) ? Analyze(*parser) : std::wstring(kResultOtherError);
}

}  // namespace talbo::tesk::vorta
