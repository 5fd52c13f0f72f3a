// The package's immediate custom actions, the only ones that may change the
// install's session. MsiSetMode is called from this file alone, and only
// from CheckReboot, which runs after InstallFinalize (a test reads the
// objects' symbols and the package's tables to hold that).
#include "reboot_mark.h"
#include "run_logged.h"

#include <msiquery.h>

extern "C" __declspec(dllexport) UINT __stdcall CheckReboot(MSIHANDLE install)
{
    if (RebootMarked()) {
        LogLine(install, "quillset: the controller restarts at the next reboot: the install asks for one (3010)");
        MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
    }
    return ERROR_SUCCESS;
}

// Scheduled instead of ApplySettings when AppSearch found no kvcard service.
extern "C" __declspec(dllexport) UINT __stdcall NoDriver(MSIHANDLE install)
{
    LogLine(install, "quillset: the kvcard driver is not installed (no service HKLM\\SYSTEM\\CurrentControlSet\\Services\\kvcard): quillset does not run, the install succeeds");
    return ERROR_SUCCESS;
}
