#include "job.h"

#include <setupapi.h>

// The media-card controller, by the start of its first hardware ID.
static const char ControllerHardwareId[] = "PCI\\VEN_1D5B&DEV_4F17";

static const DWORD RestartPauseMs = 1000;

// A property that keeps growing between reads (a device being reconfigured)
// must not keep us here for ever.
static const int PropertyReadLimit = 4;

static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "the class installer expects a 20-byte record");
static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void *) == 8 ? 32 : 28), "SetupAPI checks cbSize exactly");

// Compares like strncmp, but never reads past the property's size: the
// platform does not promise a terminator. A property without text never matches.
static int HardwareIdMatches(const char *property, DWORD size, const char *prefix, int compareLength)
{
    if (size == 0 || property[0] == '\0')
        return 0;
    for (int i = 0; i < compareLength; i++) {
        char c = (DWORD)i < size ? property[i] : '\0';
        if (c != prefix[i])
            return 0;
        if (c == '\0')
            break;
    }
    return 1;
}

// Reads the device's hardware IDs and compares the first one with the prefix.
// Returns 1 on a match, 0 on no match (or a device to skip), -1 when the
// enumeration must be abandoned.
static int MatchDevice(HDEVINFO devices, SP_DEVINFO_DATA *device, const char *prefix, int compareLength)
{
    BYTE *buffer = NULL;
    DWORD size = 0;
    DWORD required = 0;
    int result = 0;

    for (int reads = 1;; reads++) {
        if (SetupDiGetDeviceRegistryPropertyA(devices, device, SPDRP_HARDWAREID, NULL, buffer, size,
                                              &required)) {
            result = HardwareIdMatches(reinterpret_cast<char *>(buffer), size, prefix, compareLength);
            break;
        }
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_DATA) {
            OutputDebugStringA("GetDeviceRegistryProperty ERROR_INVALID_DATA \n");
            break;
        }
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            OutputDebugStringA("GetDeviceRegistryProperty Unknown failure\n");
            result = -1;
            break;
        }
        if (reads == PropertyReadLimit) {
            OutputDebugStringA("GetDeviceRegistryProperty size keeps changing \n");
            break;
        }
        if (buffer != NULL)
            LocalFree(buffer);
        buffer = static_cast<BYTE *>(LocalAlloc(LMEM_ZEROINIT, required));
        if (buffer == NULL) {
            OutputDebugStringA("GetDeviceRegistryProperty out of memory \n");
            break;
        }
        size = required;
    }

    if (buffer != NULL)
        LocalFree(buffer);
    return result;
}

static BOOL SetPropertyChange(HDEVINFO devices, SP_DEVINFO_DATA *device, DWORD stateChange, DWORD scope)
{
    SP_PROPCHANGE_PARAMS params;
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = stateChange;
    params.Scope = scope;
    params.HwProfile = 0;
    return SetupDiSetClassInstallParamsA(devices, device, &params.ClassInstallHeader, sizeof params);
}

// Global first, then config-specific: the second setting is the one the
// class installer acts on.
static void ApplyStateChange(HDEVINFO devices, SP_DEVINFO_DATA *device, DWORD stateChange)
{
    OutputDebugStringA("Found it! \n");
    if (!SetPropertyChange(devices, device, stateChange, DICS_FLAG_GLOBAL))
        OutputDebugStringA("SetClassInstallParams Failed!!");
    if (SetPropertyChange(devices, device, stateChange, DICS_FLAG_CONFIGSPECIFIC) &&
        SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, devices, device))
        OutputDebugStringA("Changed State on Device ID \n");
    else
        OutputDebugStringA("CallClassInstaller(REMOVE) failed\n");
}

int ChangeDeviceState(const char *hardwareIdPrefix, DWORD stateChange, int compareLength)
{
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        OutputDebugStringA(" GetClassDevs(All Present Devices) Invalid Handle \n");
        return 0;
    }

    SP_DEVINFO_DATA device;
    ZeroMemory(&device, sizeof device);
    device.cbSize = sizeof device;

    // Only the first matching device is changed.
    int found = 0;
    for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(devices, index, &device); index++) {
        int match = MatchDevice(devices, &device, hardwareIdPrefix, compareLength);
        if (match < 0)
            break;
        if (match) {
            ApplyStateChange(devices, &device, stateChange);
            found = 1;
        }
    }

    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

int RestartDevice(void)
{
    const int compareLength = sizeof ControllerHardwareId - 1;

    ChangeDeviceState(ControllerHardwareId, DICS_DISABLE, compareLength);
    OutputDebugStringA("Device Disabled from RestartDevice \n");
    Sleep(RestartPauseMs);
    ChangeDeviceState(ControllerHardwareId, DICS_ENABLE, compareLength);
    OutputDebugStringA("Device Re-Enabled from RestartDevice \n");
    return 1;
}
