#include "job.h"

#include <setupapi.h>

// The media-card controller, by the start of its first hardware ID.
static const char ControllerHardwareId[] = "PCI\\VEN_1D5B&DEV_4F17";

static const DWORD RestartPauseMs = 1000;

// A disabled controller survives reboots, so after a disable that took
// effect the enable is tried this often, a pause apart.
static const int EnablePasses = 3;
static const DWORD EnableRetryPauseMs = 1000;

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
            OutputDebugStringA(MsgNoHardwareIds);
            break;
        }
        // Unplugged while we look: the rest of the list is still worth searching.
        if (error == ERROR_NO_SUCH_DEVINST) {
            OutputDebugStringA(MsgDeviceGone);
            break;
        }
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            OutputDebugStringA(MsgHardwareIdsUnreadable);
            result = -1;
            break;
        }
        if (reads == PropertyReadLimit) {
            OutputDebugStringA(MsgHardwareIdsChanging);
            break;
        }
        if (buffer != NULL)
            LocalFree(buffer);
        buffer = static_cast<BYTE *>(LocalAlloc(LMEM_ZEROINIT, required));
        if (buffer == NULL) {
            OutputDebugStringA(MsgHardwareIdsNoMemory);
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

// The class installer may accept a change and leave it to the next reboot.
static int NeedsReboot(HDEVINFO devices, SP_DEVINFO_DATA *device)
{
    SP_DEVINSTALL_PARAMS_A params;
    ZeroMemory(&params, sizeof params);
    params.cbSize = sizeof params;
    return SetupDiGetDeviceInstallParamsA(devices, device, &params) &&
           (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
}

// Global first, then config-specific: the second setting is the one the
// class installer acts on. Returns 1 when the class installer took the change.
static int ApplyStateChange(HDEVINFO devices, SP_DEVINFO_DATA *device, DWORD stateChange)
{
    OutputDebugStringA(MsgFound);
    if (!SetPropertyChange(devices, device, stateChange, DICS_FLAG_GLOBAL))
        OutputDebugStringA(MsgGlobalParamsFailed);
    if (!SetPropertyChange(devices, device, stateChange, DICS_FLAG_CONFIGSPECIFIC) ||
        !SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, devices, device)) {
        OutputDebugStringA(MsgStateNotChanged);
        return 0;
    }
    OutputDebugStringA(MsgStateChanged);
    if (NeedsReboot(devices, device))
        OutputDebugStringA(MsgRebootPending);
    return 1;
}

// One pass over the present devices. *changed tells whether the class
// installer took the change. A tolerant pass skips a device whose property
// cannot be read rather than giving up on the rest.
static int ChangeState(const char *hardwareIdPrefix, DWORD stateChange, int compareLength, int tolerant,
                       int *changed)
{
    *changed = 0;
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        OutputDebugStringA(MsgNoDeviceList);
        return 0;
    }

    SP_DEVINFO_DATA device;
    ZeroMemory(&device, sizeof device);
    device.cbSize = sizeof device;

    // Only the first matching device is changed.
    int found = 0;
    for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(devices, index, &device); index++) {
        int match = MatchDevice(devices, &device, hardwareIdPrefix, compareLength);
        if (match < 0 && !tolerant)
            break;
        if (match > 0) {
            *changed = ApplyStateChange(devices, &device, stateChange);
            found = 1;
        }
    }

    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

int ChangeDeviceState(const char *hardwareIdPrefix, DWORD stateChange, int compareLength)
{
    int changed;
    return ChangeState(hardwareIdPrefix, stateChange, compareLength, 0, &changed);
}

// The class installer refuses a 32-bit caller on 64-bit Windows.
static int IsWow64(void)
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// After a disable that took effect, giving up on the enable would leave the
// controller off for good.
static void EnableAgain(const char *prefix, int compareLength)
{
    for (int pass = 1;; pass++) {
        int enabled;
        ChangeState(prefix, DICS_ENABLE, compareLength, 1, &enabled);
        if (enabled)
            return;
        if (pass == EnablePasses)
            break;
        OutputDebugStringA(MsgEnableRetry);
        Sleep(EnableRetryPauseMs);
    }
    OutputDebugStringA(MsgLeftDisabled);
}

int RestartDevice(void)
{
    const int compareLength = sizeof ControllerHardwareId - 1;

    if (IsWow64())
        OutputDebugStringA(MsgWow64);

    int disabled;
    ChangeState(ControllerHardwareId, DICS_DISABLE, compareLength, 0, &disabled);
    OutputDebugStringA(MsgDisablePassEnded);
    Sleep(RestartPauseMs);
    if (disabled)
        EnableAgain(ControllerHardwareId, compareLength);
    else
        ChangeDeviceState(ControllerHardwareId, DICS_ENABLE, compareLength);
    OutputDebugStringA(MsgRestartEnded);
    return 1;
}
