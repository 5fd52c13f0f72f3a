#include "job.h"

DWORD SmEnableValue;
DWORD SdSwitchValue;

static void RunJob(void)
{
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
    // Installing a driver while we restart its device would fight the installer.
    while (DeviceInstallInProgress()) {
        DebugTrace(1, "%s", MsgInstallPending);
        Sleep(2000);
    }

    // Taken after that wait, which has no limit, so that a run started from
    // inside an installation holds no other run up; and before the settings
    // are read, so that a run that waited applies the newest file.
    HANDLE lock = TakeJobLock();
    RunJob();
    ReleaseJobLock(lock);
}
