#pragma once

#include "engine/jobs/CRestartProbe.h"

namespace talbo::tesk::vorta {

// Reads a device back after the last part of its update, so that a run ends as a success only
// when the device really runs the image's firmware. One probe at once; only when the device
// does not answer (it may restart to apply the firmware), a whole restart wait with its
// timings. The probe stores what the device reports, so the device's "version" then shows the
// firmware it runs.
class CVersionConfirmation : public CRestartProbe {
public:
    CVersionConfirmation(CUpdateModelIF* model, std::wstring imageVersion);

    // "NormalEnd" when the device answered "Idle" with exactly the image's version (white space
    // around the reported version does not count); "VersionNotConfirmed" for any other version,
    // an empty one included; the refusal when the device, though on the new version, reports
    // another updater or a busy application; "OtherError" for any other status; "TimeOut" when
    // the device never answered.
    std::wstring Execute(const std::wstring& hostName) override;

private:
    std::wstring imageVersion;
};

}  // namespace talbo::tesk::vorta
