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
    virtual const wchar_t* GetValue(const wchar_t* key) = 0;
};

}  // namespace talbo::tesk::vorta
