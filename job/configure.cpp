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

// Installing a driver while we restart its device would fight the installer.
static void WaitForInstallations(void)
{
    while (DeviceInstallInProgress()) {
        DebugTrace(1, "%s", MsgInstallPending);
        Sleep(2000);
    }
}

void ConfigureDevice(void)
{
    // The lock is taken after that wait, which has no limit, so that a run
    // started from inside an installation holds no other run up; and before
    // the settings are read, so that a run that waited applies the newest
    // file. The run it waited for may have started installations of its own
    // (the controller's child devices), so the question is asked again.
    HANDLE lock;
    for (;;) {
        WaitForInstallations();
        lock = TakeJobLock();
        if (!DeviceInstallInProgress())
            break;
        ReleaseJobLock(lock);
        DebugTrace(1, "%s", MsgInstallPending);
        Sleep(2000);
    }
    RunJob();
    ReleaseJobLock(lock);
}
