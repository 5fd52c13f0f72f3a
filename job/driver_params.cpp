#include "job.h"

static const char ParametersKey[] = "System\\CurrentControlSet\\Services\\kvcard\\Parameters";

// The driver's installer may still be creating the key when we start.
static const int KeyOpenAttempts = 10;
static const DWORD KeyWaitMs = 1000;

// Setting values is all the job does, and all a hardened ACL may grant.
static LONG OpenParametersKey(HKEY *key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParametersKey, 0, KEY_SET_VALUE, key);
}

static int SetDwordValue(HKEY key, const char *name, DWORD data)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data),
                          sizeof data) == ERROR_SUCCESS;
}

int UpdateDriverParameters(void)
{
    HKEY key;
    BYTE attempts = 0;
    do {
        LONG result = OpenParametersKey(&key);
        if (result == ERROR_SUCCESS) {
            OutputDebugStringA(MsgKeyOpened);
            if (SetDwordValue(key, "SMEnable", SmEnableValue))
                OutputDebugStringA(MsgSmEnableSet);
            else
                OutputDebugStringA(MsgSmEnableNotSet);
            RegCloseKey(key);
            break;
        }
        // Waiting cannot grant rights: the key is there, we may not write it.
        if (result == ERROR_ACCESS_DENIED) {
            OutputDebugStringA(MsgKeyDenied);
            break;
        }
        OutputDebugStringA(MsgKeyMissing);
        Sleep(KeyWaitMs);
    } while (++attempts < KeyOpenAttempts);

    if (OpenParametersKey(&key) != ERROR_SUCCESS) {
        OutputDebugStringA(MsgSdKeyNotOpened);
        return 0;
    }
    OutputDebugStringA(MsgSdKeyOpened);
    OutputDebugStringA(MsgSdKeyPresent);
    if (SetDwordValue(key, "SDSwitch", SdSwitchValue))
        OutputDebugStringA(MsgSdSwitchSet);
    else
        OutputDebugStringA(MsgSdSwitchNotSet);
    RegCloseKey(key);
    return 1;
}
