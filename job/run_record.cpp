// quillset's record under HKLM\SOFTWARE\quillset. A run cut short between
// its disable and its enable leaves the controller disabled across reboots;
// only a record of that disable lets the next run tell it from one that
// someone made on purpose. The package's removal deletes the key, and the
// record with it.
#include "job.h"

// The 64-bit view on 64-bit Windows, where the x64 package keeps the key,
// for the 32-bit build too; 32-bit Windows ignores the flag (XP included).
static const REGSAM RecordView = KEY_WOW64_64KEY;

static void SetRecordValue(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, RecordKey, 0, NULL, 0, KEY_SET_VALUE | RecordView, NULL, &key,
                                  NULL);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS)
        OutputDebugStringA(MsgRecordNotWritten);
}

int RecordNamesDevice(const char *instanceId)
{
    HKEY key;
    if (instanceId[0] == '\0' ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, RecordKey, 0, KEY_QUERY_VALUE | RecordView, &key) != ERROR_SUCCESS)
        return 0;
    // Room for the longest ID with its terminator, and one byte more to end
    // data that has none.
    char recorded[DeviceIdChars + 2];
    DWORD type = 0, size = DeviceIdChars + 1;
    int read = RegQueryValueExA(key, RecordDisabledName, NULL, &type, reinterpret_cast<BYTE *>(recorded), &size) ==
                   ERROR_SUCCESS &&
               type == REG_SZ;
    RegCloseKey(key);
    // The data need not end in a terminator; instance IDs ignore case.
    recorded[read ? size : 0] = '\0';
    return read && lstrcmpiA(recorded, instanceId) == 0;
}

void RecordOwnDisable(const char *instanceId)
{
    if (instanceId[0] == '\0')
        OutputDebugStringA(MsgRecordNotWritten);
    else
        SetRecordValue(RecordDisabledName, REG_SZ, instanceId, lstrlenA(instanceId) + 1);
}

void ForgetOwnDisable(void) { SetRecordValue(RecordDisabledName, REG_SZ, "", 1); }

void RecordRun(RunApplied applied)
{
    RunRecord run = {SmEnableValue, SdSwitchValue, static_cast<DWORD>(applied), GetTickCount(), {0, 0}};
    GetSystemTimeAsFileTime(&run.time);
    SetRecordValue(RecordRunName, REG_BINARY, &run, sizeof run);
}
