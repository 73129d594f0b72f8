// A device's answer from the bytes of an HTTP 200 body to the name the receive states make of
// it: the UTF-8 check, the load against the response schema and the analysis trees of the
// communication test, the mode change and the update. Nothing touches the network: the
// connection hands back the input as the answer.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "engine/jobs/CChangeModeReceive.h"
#include "engine/jobs/CCommunicationTestReceive.h"
#include "engine/jobs/CUpdateReceiveState.h"
#include "engine/protocol/UpdateConnectionFactory.h"
#include "tests/engine/jobs/FakeFleetModel.h"

namespace tv = talbo::tesk::vorta;
using vorta_fuzz::Require;

namespace {

constexpr wchar_t kHost[] = L"device-1.invalid";
constexpr wchar_t kNext[] = L"Next";

// Answers every exchange with status 200 and the same body.
class CCannedAnswer : public tv::CConnection {
public:
    explicit CCannedAnswer(tv::ByteSequence body) : CConnection(nullptr), body(std::move(body)) {}

    int Open() override { return 0; }
    void Close() override {}
    int Send(const std::wstring&, const tv::CUpdateImagePart*) override { return 0; }
    int Receive(tv::ByteSequence& bytes) override {
        bytes = body;
        return 200;
    }
    int SetTimeout(std::uint32_t) override { return 0; }

private:
    tv::ByteSequence body;
};

bool IsOneOf(const std::wstring& name, std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* candidate : names) {
        if (name == candidate) {
            return true;
        }
    }
    return false;
}

// What a refusal of a mode change may turn into: a reason the engine knows, or the name of the
// application that keeps the device busy.
bool IsChangeModeResult(const std::wstring& name) {
    return IsOneOf(name, {kNext, L"NotCorrespond", L"AnotherUpdating", L"VersionNotSame",
                          L"InvalidFile", L"OtherError", L"Print", L"WebConfig", L"WebContents",
                          L"WebContentsUpdater", L"Utility", L"StatusPrint", L"Initialization",
                          L"ServerDirectPrint", L"StatusNotification", L"HIDNotification"});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The module does this once at load, before any worker thread.
    static const bool ready = tv::InitializeProtocolLibraries();
    Require(ready, "the protocol libraries initialise");

    tv::testing::FakeFleetModel fleet;
    fleet.Add(kHost);
    fleet.connections[kHost] = std::make_unique<CCannedAnswer>(tv::ByteSequence(data, data + size));

    tv::CCommunicationTestReceive test(&fleet, kNext);
    const std::wstring tested = test.Execute(kHost);
    Require(tested == kNext || tested == L"OtherError",
            "a communication test goes on or ends in OtherError");
    if (tested != kNext) {
        Require(fleet.GetDeviceValue(kHost, L"modelname").empty() &&
                    fleet.GetDeviceValue(kHost, L"version").empty(),
                "an unusable answer leaves no model name or version behind");
    }

    tv::CChangeModeReceive changeMode(&fleet, kNext);
    const std::wstring changed = changeMode.Execute(kHost);
    Require(IsChangeModeResult(changed), "a mode change ends in a known name");

    // The update tree is the mode-change tree that also knows "ModeNotChanged".
    tv::CUpdateReceiveState update(&fleet, kNext);
    const std::wstring updated = update.Execute(kHost);
    Require(updated == changed || (updated == L"ModeNotChanged" && changed == L"OtherError"),
            "an update answer reads as the same answer to a mode change");
    return 0;
}
