// The controller's state for qscheck --verify, in a file of its own so that
// quillset.exe, which never calls it, does not carry it.
#include "job.h"

DeviceState ReadControllerState(DWORD *problem, char *instanceId)
{
    char unused[DeviceIdChars + 1];
    if (instanceId == NULL)
        instanceId = unused;
    *problem = 0;
    instanceId[0] = '\0';
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return DeviceStateUnknown;
    SP_DEVINFO_DATA device;
    int found = FindDevice(devices, ControllerHardwareId, sizeof ControllerHardwareId - 1, 0, &device);
    DeviceState state = found > 0 ? ReadDeviceState(device.DevInst, problem)
                                  : found == 0 ? DeviceAbsent : DeviceStateUnknown;
    if (found > 0 && !SetupDiGetDeviceInstanceIdA(devices, &device, instanceId, DeviceIdChars + 1, NULL))
        instanceId[0] = '\0';
    SetupDiDestroyDeviceInfoList(devices);
    return state;
}
