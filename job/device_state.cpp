// What Configuration Manager says of a device: running, or why not.
#include "job.h"

#include <cfgmgr32.h>

DeviceState ReadDeviceState(DWORD devInst, DWORD *problem)
{
    // Some implementations report success and write nothing: a status
    // without a single DN_ bit says nothing either.
    ULONG status = 0, code = 0;
    *problem = 0;
    if (CM_Get_DevNode_Status(&status, &code, devInst, 0) != CR_SUCCESS || status == 0)
        return DeviceStateUnknown;
    if (status & DN_HAS_PROBLEM) {
        *problem = code;
        if (code == CM_PROB_DISABLED)
            return DeviceDisabled;
        return code == CM_PROB_NEED_RESTART ? DeviceNeedsReboot : DeviceProblem;
    }
    return status & DN_STARTED ? DeviceRunning : DeviceNotStarted;
}
