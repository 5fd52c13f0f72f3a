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
            OutputDebugStringA("Registry Key Exists and was opened successfully! ");
            if (SetDwordValue(key, "SMEnable", SmEnableValue))
                OutputDebugStringA("SMEnable value Set!");
            else
                OutputDebugStringA("Error setting SMEnable registry value!");
            RegCloseKey(key);
            break;
        }
        // Waiting cannot grant rights: the key is there, we may not write it.
        if (result == ERROR_ACCESS_DENIED) {
            OutputDebugStringA("Access to the kvcard Parameters key was denied: run quillset as administrator ");
            break;
        }
        OutputDebugStringA("Reg key does not exist yet, wait 1s. ");
        Sleep(KeyWaitMs);
    } while (++attempts < KeyOpenAttempts);

    if (OpenParametersKey(&key) != ERROR_SUCCESS) {
        OutputDebugStringA("RegOpenKeyEx SDHost Failed!");
        return 0;
    }
    OutputDebugStringA("RegOpenKeyEx SDHost sucessful!");
    OutputDebugStringA("SD Registry Key present");
    if (SetDwordValue(key, "SDSwitch", SdSwitchValue))
        OutputDebugStringA("SdHost reg key value set correctly!");
    else
        OutputDebugStringA("Error setting the registry value!");
    RegCloseKey(key);
    return 1;
}
