#include "job.h"

typedef DWORD(WINAPI *WaitNoPendingInstallEventsProc)(DWORD timeout);

int DeviceInstallInProgress(void)
{
    // The program imports setupapi, so it is loaded; the probe never loads it.
    HMODULE setupapi = GetModuleHandleA("setupapi.dll");
    if (setupapi == NULL) {
        DebugTrace(1, "%s", MsgNoSetupapi);
        return 0;
    }

    // Looked up at run time: older systems do not export it.
    FARPROC probe = GetProcAddress(setupapi, "CMP_WaitNoPendingInstallEvents");
    if (probe == NULL) {
        DebugTrace(1, "%s", MsgNoInstallProbe);
        return 0;
    }
    WaitNoPendingInstallEventsProc waitNoPendingInstallEvents =
        reinterpret_cast<WaitNoPendingInstallEventsProc>(reinterpret_cast<void (*)(void)>(probe));

    return waitNoPendingInstallEvents(0) == WAIT_TIMEOUT ? 1 : 0;
}
