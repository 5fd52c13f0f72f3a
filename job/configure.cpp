#include "job.h"

DWORD SmEnableValue;
DWORD SdSwitchValue;

static void RunJob(void)
{
    // Installing a driver while we restart its device would fight the installer.
    while (DeviceInstallInProgress()) {
        DebugTrace(1, "%s", MsgInstallPending);
        Sleep(2000);
    }

    if (!ReadConfigFile())
        return;

    SmEnableValue = SmEnableFromChar(SmEnableChar);
    SdSwitchValue = SdSwitchFromChar(SdHostChar);
    OutputDebugStringA(MsgSettingsRead);

    if (UpdateDriverParameters())
        RestartDevice();
    else
        OutputDebugStringA(MsgParametersFailed);
}

void ConfigureDevice(void)
{
    // Taken before the settings are read: a run that waited applies the
    // newest file.
    HANDLE lock = TakeJobLock();
    RunJob();
    ReleaseJobLock(lock);
}
