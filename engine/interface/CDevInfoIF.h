#pragma once

#include "engine/interface/VortaExport.h"

namespace talbo::tesk::vorta {

// One registered device as the host sees it. Owned by the model; lives until unload.
class VORTA_EXPORT CDevInfoIF {
public:
    CDevInfoIF();
    CDevInfoIF(const CDevInfoIF&);
    CDevInfoIF& operator=(const CDevInfoIF&);
    virtual ~CDevInfoIF();

    // The device's value for key, or null for a null key or a key without a value. The text
    // stays readable and unchanged until this host's next StartCommunicationTest or StartUpdate
    // call (or the unload), even while a job writes newer values: copy what you need before you
    // start another job.
    //
    // Besides what the test reads from the device ("modelname", "version", "accesstest") and
    // "progress", a job writes two values for hosts. "phase" says what the device is doing:
    // "test", "upload N/M" (part N of M), "restart", "confirm", or empty when it is doing
    // nothing. "failurecounted" is "true" from the moment the update job counted the device's
    // failure towards the stop after failures (CUpdateSettingsExport::SetStopAfterFailures),
    // so a host can tell which failed devices were really tried; every job start empties both
    // for its targets, and neither is written for devices that are no target.
    virtual const wchar_t* GetValue(const wchar_t* key) = 0;
};

}  // namespace talbo::tesk::vorta
