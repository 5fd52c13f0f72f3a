#include "device_registrar.h"

#include <setupapi.h>

// Every stand-in is ROOT\QUILLSET_STANDIN\nnnn, of the SD host controller
// class: SetupAPI makes that instance ID from the name (DICD_GENERATE_ID), and
// only devices with it are ever removed by prefix or counted.
#define STAND_IN_NAME "QUILLSET_STANDIN"
static const char StandInName[] = STAND_IN_NAME;
static const char StandInInstancePrefix[] = "ROOT\\" STAND_IN_NAME "\\";
static const GUID StandInClass = {0xa0a588a4, 0xc46f, 0x4b37, {0xb7, 0xea, 0xc8, 0x2f, 0xe8, 0x98, 0x70, 0xc6}};

// SetupAPI checks an element's cbSize before it fills one in.
static void EmptyElement(SP_DEVINFO_DATA *device)
{
    ZeroMemory(device, sizeof *device);
    device->cbSize = sizeof *device;
}

static DWORD MultiStringSize(const char *strings)
{
    const char *end = strings;
    while (*end != '\0')
        end += lstrlenA(end) + 1;
    return static_cast<DWORD>(end - strings) + 1;
}

int RegisterStandInDevice(const char *hardwareIds, char *instanceId, DWORD instanceIdSize)
{
    HDEVINFO devices = SetupDiCreateDeviceInfoList(&StandInClass, NULL);
    if (devices == INVALID_HANDLE_VALUE)
        return 0;

    SP_DEVINFO_DATA device;
    EmptyElement(&device);
    int created = SetupDiCreateDeviceInfoA(devices, StandInName, &StandInClass, NULL, NULL, DICD_GENERATE_ID,
                                           &device);
    int ok = created &&
             (hardwareIds == NULL ||
              SetupDiSetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE *>(hardwareIds),
                                                MultiStringSize(hardwareIds))) &&
             SetupDiRegisterDeviceInfo(devices, &device, 0, NULL, NULL, NULL) &&
             (instanceId == NULL ||
              SetupDiGetDeviceInstanceIdA(devices, &device, instanceId, instanceIdSize, NULL));

    // A half-made device must not stay behind to confuse the next run.
    DWORD error = GetLastError();
    if (created && !ok)
        SetupDiRemoveDevice(devices, &device);
    SetupDiDestroyDeviceInfoList(devices);
    SetLastError(error);
    return ok;
}

int RemoveDeviceInstance(const char *instanceId)
{
    HDEVINFO devices = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (devices == INVALID_HANDLE_VALUE)
        return 0;
    SP_DEVINFO_DATA device;
    EmptyElement(&device);
    int ok = SetupDiOpenDeviceInfoA(devices, instanceId, NULL, 0, &device) && SetupDiRemoveDevice(devices, &device);
    DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(devices);
    SetLastError(error);
    return ok;
}

static int IsStandIn(HDEVINFO devices, SP_DEVINFO_DATA *device)
{
    char instanceId[InstanceIdSize];
    const int prefixLength = sizeof StandInInstancePrefix - 1;
    return SetupDiGetDeviceInstanceIdA(devices, device, instanceId, sizeof instanceId, NULL) &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, instanceId, prefixLength, StandInInstancePrefix,
                          prefixLength) == CSTR_EQUAL;
}

static int FirstHardwareIdStartsWith(HDEVINFO devices, SP_DEVINFO_DATA *device, const char *prefix)
{
    // Windows keeps a hardware-ID list within 1024 characters; two more
    // bytes keep it terminated whatever the property holds.
    char ids[1024 + 2];
    ZeroMemory(ids, sizeof ids);
    if (!SetupDiGetDeviceRegistryPropertyA(devices, device, SPDRP_HARDWAREID, NULL, reinterpret_cast<BYTE *>(ids),
                                           sizeof ids - 2, NULL))
        return 0;
    int length = lstrlenA(prefix);
    for (int i = 0; i < length; i++)
        if (ids[i] != prefix[i])
            return 0;
    return 1;
}

int RemoveStandInsByHardwareId(const char *prefix)
{
    if (prefix == NULL || *prefix == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return -1;
    SP_DEVINFO_DATA device;
    EmptyElement(&device);
    int removed = 0;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); index++) {
        if (!IsStandIn(devices, &device) || !FirstHardwareIdStartsWith(devices, &device, prefix))
            continue;
        if (!SetupDiRemoveDevice(devices, &device)) {
            removed = -1;
            break;
        }
        removed++;
    }
    DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(devices);
    SetLastError(error);
    return removed;
}

int StandInDeviceCount(void)
{
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return -1;
    SP_DEVINFO_DATA device;
    EmptyElement(&device);
    int count = 0;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); index++)
        count += IsStandIn(devices, &device);
    SetupDiDestroyDeviceInfoList(devices);
    return count;
}
