#pragma once
// What the model needs from the protocol: connections for the firmware-update endpoint and the
// schema text of device responses.

#include <memory>
#include <string>

#include "engine/protocol/CConnection.h"

namespace talbo::tesk::vorta {

// A new connection to the host's firmware-update endpoint with the fixed request builder, user
// agent and credentials; null when it cannot be made.
std::unique_ptr<CConnection> MakeUpdateConnection(const std::wstring& hostName);

// The XML schema text that device responses are validated against.
const std::wstring& ResponseSchemaText();

}  // namespace talbo::tesk::vorta

namespace talbo::tesk::vorta {

// One-time set-up of the HTTP and XML libraries; called when the library is loaded, before any
// worker thread exists. Returns false when they cannot be initialised.
bool InitializeProtocolLibraries();
// Undoes InitializeProtocolLibraries at unload.
void ShutdownProtocolLibraries();

}  // namespace talbo::tesk::vorta
