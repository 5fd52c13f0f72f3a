#include "job.h"

DWORD SmEnableValue;
DWORD SdSwitchValue;

void ConfigureDevice(void)
{
    // Installing a driver while we restart its device would fight the installer.
    while (DeviceInstallInProgress()) {
        DebugTrace(1, "DeviceInstallInProgress() \n");
        Sleep(2000);
    }

    if (!ReadConfigFile())
        return;

    // Anything but an explicit '0' leaves SM enabled, the driver's default.
    SmEnableValue = SmEnableChar == '0' ? 0 : 1;
    switch (SdHostChar) {
    case '1': SdSwitchValue = 1; break;
    case '2': SdSwitchValue = 2; break;
    case '3': SdSwitchValue = 3; break;
    default: SdSwitchValue = 0; break;
    }
    OutputDebugStringA("Always config Params \n");

    if (UpdateDriverParameters())
        RestartDevice();
    else
        OutputDebugStringA("Error Waiting or Updating parameters \n");
}
