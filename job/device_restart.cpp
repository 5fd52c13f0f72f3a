#include <stdio.h>

#include "job.h"

#include <setupapi.h>

static const DWORD RestartPauseMs = 1000;

// A disabled controller survives reboots, so after a disable that took
// effect the enable is tried this often, a pause apart.
static const int EnablePasses = 3;
static const DWORD EnableRetryPauseMs = 1000;

// The class installer's enable returns before the driver has started: its
// state is read this often, a pause apart, until it runs (about 10 s).
static const int StartPolls = 100;
static const DWORD StartPollMs = 100;

static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "the class installer expects a 20-byte record");

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

// What became of one pass's state change.
enum Change {
    ChangeRefused,       // not taken by the class installer, or no device
    ChangeTaken,
    ChangeAtReboot,      // taken, and left to the next reboot
    ChangeStillDisabled, // an enable taken, and the controller still disabled
    ChangeLeftAlone,     // disabled already, not by quillset: nothing done
    ChangeOwnDisable,    // disabled already by an earlier run: only the enable is left
};

// Says whether the controller came back after an enable, and returns its
// state. Only a state that waiting may still change is read again: a stub
// that reports nothing, or a device that waits for a reboot, never will.
static DeviceState ConfirmRunning(DWORD devInst)
{
    DWORD problem;
    DeviceState state = ReadDeviceState(devInst, &problem);
    for (int poll = 0;
         poll < StartPolls && (state == DeviceNotStarted || state == DeviceDisabled || state == DeviceProblem);
         poll++) {
        Sleep(StartPollMs);
        state = ReadDeviceState(devInst, &problem);
    }
    if (state == DeviceRunning)
        OutputDebugStringA(MsgControllerRuns);
    else if (state == DeviceNeedsReboot)
        OutputDebugStringA(MsgRebootPending);
    else if (state == DeviceStateUnknown)
        OutputDebugStringA(MsgControllerStateUnknown);
    else {
        char text[sizeof MsgNotRunningFormat + 16];
        snprintf(text, sizeof text, MsgNotRunningFormat, static_cast<unsigned long>(problem));
        OutputDebugStringA(text);
    }
    return state;
}

// Global first, then config-specific: the second setting is the one the
// class installer acts on. Returns a Change.
static int ApplyStateChange(HDEVINFO devices, SP_DEVINFO_DATA *device, DWORD stateChange)
{
    if (!SetPropertyChange(devices, device, stateChange, DICS_FLAG_GLOBAL))
        OutputDebugStringA(MsgGlobalParamsFailed);
    if (!SetPropertyChange(devices, device, stateChange, DICS_FLAG_CONFIGSPECIFIC) ||
        !SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, devices, device)) {
        OutputDebugStringA(MsgStateNotChanged);
        return ChangeRefused;
    }
    OutputDebugStringA(MsgStateChanged);
    // A change left to the reboot has nothing to confirm before it.
    if (NeedsReboot(devices, device)) {
        OutputDebugStringA(MsgRebootPending);
        return ChangeAtReboot;
    }
    if (stateChange != DICS_ENABLE)
        return ChangeTaken;
    DeviceState state = ConfirmRunning(device->DevInst);
    return state == DeviceNeedsReboot ? ChangeAtReboot : state == DeviceDisabled ? ChangeStillDisabled : ChangeTaken;
}

// A controller that is disabled already was disabled on purpose, or for all
// hardware profiles, which our config-specific enable could not undo: it is
// left so, unless the record names it, as a run cut short between its
// disable and its enable leaves it. Any other is recorded, then disabled.
static int Disable(HDEVINFO devices, SP_DEVINFO_DATA *device)
{
    char instanceId[DeviceIdChars + 1];
    if (!SetupDiGetDeviceInstanceIdA(devices, device, instanceId, sizeof instanceId, NULL))
        instanceId[0] = '\0';
    DWORD problem;
    if (ReadDeviceState(device->DevInst, &problem) == DeviceDisabled) {
        int own = RecordNamesDevice(instanceId);
        OutputDebugStringA(own ? MsgOwnDisableFound : MsgDisabledLeftAlone);
        return own ? ChangeOwnDisable : ChangeLeftAlone;
    }
    RecordOwnDisable(instanceId);
    int change = ApplyStateChange(devices, device, DICS_DISABLE);
    // Never disabled, so nothing to mend.
    if (change == ChangeRefused)
        ForgetOwnDisable();
    return change;
}

// One pass over the present devices; *change is a Change. A tolerant pass
// skips a device whose property cannot be read rather than giving up on
// the rest.
static int ChangeState(const char *hardwareIdPrefix, DWORD stateChange, int compareLength, int tolerant,
                       int *change)
{
    *change = ChangeRefused;
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        OutputDebugStringA(MsgNoDeviceList);
        return 0;
    }

    // Only the first matching device is changed.
    SP_DEVINFO_DATA device;
    int found = FindDevice(devices, hardwareIdPrefix, compareLength, tolerant, &device) > 0;
    if (found) {
        OutputDebugStringA(MsgFound);
        *change = stateChange == DICS_DISABLE ? Disable(devices, &device)
                                              : ApplyStateChange(devices, &device, stateChange);
    }

    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

int ChangeDeviceState(const char *hardwareIdPrefix, DWORD stateChange, int compareLength)
{
    int change;
    return ChangeState(hardwareIdPrefix, stateChange, compareLength, 0, &change);
}

// The class installer refuses a 32-bit caller on 64-bit Windows.
static int IsWow64(void)
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// After a disable that took effect, giving up on the enable would leave the
// controller off for good. Returns the enable's Change; the record of our
// disable goes once the controller is no longer disabled.
static int EnableAgain(const char *prefix, int compareLength)
{
    for (int pass = 1;; pass++) {
        int change;
        ChangeState(prefix, DICS_ENABLE, compareLength, 1, &change);
        if (change != ChangeRefused) {
            if (change != ChangeStillDisabled)
                ForgetOwnDisable();
            return change;
        }
        if (pass == EnablePasses)
            break;
        OutputDebugStringA(MsgEnableRetry);
        Sleep(EnableRetryPauseMs);
    }
    OutputDebugStringA(MsgLeftDisabled);
    return ChangeRefused;
}

static RunApplied Applied(int disable, int enable)
{
    if (disable == ChangeLeftAlone)
        return AppliedWhenEnabled;
    if (enable == ChangeAtReboot || (enable == ChangeTaken && disable == ChangeAtReboot))
        return AppliedAtReboot;
    return enable == ChangeTaken ? AppliedRestarted : AppliedNotRestarted;
}

int RestartDevice(void)
{
    const int compareLength = sizeof ControllerHardwareId - 1;

    if (IsWow64())
        OutputDebugStringA(MsgWow64);

    int disable, enable = ChangeRefused;
    ChangeState(ControllerHardwareId, DICS_DISABLE, compareLength, 0, &disable);
    if (disable != ChangeLeftAlone) {
        OutputDebugStringA(MsgDisablePassEnded);
        // An earlier run's disable has had its pause.
        if (disable != ChangeOwnDisable)
            Sleep(RestartPauseMs);
        if (disable != ChangeRefused)
            enable = EnableAgain(ControllerHardwareId, compareLength);
        else
            ChangeDeviceState(ControllerHardwareId, DICS_ENABLE, compareLength);
    }
    RecordRun(Applied(disable, enable));
    OutputDebugStringA(MsgRestartEnded);
    return 1;
}
