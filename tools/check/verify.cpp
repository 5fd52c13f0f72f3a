// qscheck --verify's readings of this machine: the settings file as
// quillset reads it, the driver's two values, and the controller as quillset
// finds it. Nothing is written. The job's own messages go to the debugger,
// as in quillset.
#include <errno.h>
#include <stdio.h>

#include "verdict.h"

static const char ServiceKey[] = "System\\CurrentControlSet\\Services\\kvcard";
static const char ParametersKey[] = "System\\CurrentControlSet\\Services\\kvcard\\Parameters";

// The same two streams and the same steps as quillset's ReadConfigFile.
static FileReading ReadSettingsFile(const wchar_t *path, DWORD *want)
{
    if (path == NULL)
        return FileNoWindowsFolder;
    FILE *scanned = _wfopen(path, L"rb");
    if (scanned == NULL)
        return errno == ENOENT ? FileMissing : errno == EACCES ? FileDenied : FileNotOpened;
    FILE *bytes = _wfopen(path, L"rb");
    FileReading reading = FileUnreadable;
    if (bytes != NULL) {
        const char *refusal = SettingsBytesRefusal(bytes);
        fclose(bytes);
        if (refusal == MsgFileUtf16)
            reading = FileUtf16;
        else if (refusal == MsgFileBareLf)
            reading = FileBareLf;
        else if (refusal == MsgFileCtrlZ)
            reading = FileCtrlZ;
        else if (refusal == NULL) {
            SmEnableChar = SdHostChar = 0;
            int found = ScanSettings(scanned, NULL, NULL);
            reading = ferror(scanned) ? FileUnreadable : found ? FileRead : FileNoId2;
        }
    }
    fclose(scanned);
    want[0] = SmEnableFromChar(SmEnableChar);
    want[1] = SdSwitchFromChar(SdHostChar);
    return reading;
}

// A value of another type or size is not what quillset writes, and drifts
// as a missing one does. Any other failure goes to *error.
static ValueReading ReadDword(HKEY key, const char *name, DWORD *data, LONG *error)
{
    DWORD type = 0, size = sizeof *data;
    LONG result = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(data), &size);
    if (result == ERROR_FILE_NOT_FOUND)
        return ValueMissing;
    if (result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof *data)))
        return ValueNotDword;
    if (result != ERROR_SUCCESS)
        *error = result;
    return ValueDword;
}

// HKLM\System is one key for 64-bit and 32-bit programs alike (WOW64 does
// not redirect it), so the 32-bit build needs no KEY_WOW64_64KEY to read
// what the driver reads. Querying values is all we ask for.
static void ReadDriverValues(VerifyReadings *r)
{
    HKEY key;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParametersKey, 0, KEY_QUERY_VALUE, &key);
    if (result == ERROR_FILE_NOT_FOUND) {
        HKEY service;
        LONG serviceResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServiceKey, 0, KEY_QUERY_VALUE, &service);
        if (serviceResult == ERROR_SUCCESS)
            RegCloseKey(service);
        r->key = serviceResult == ERROR_FILE_NOT_FOUND ? KeyNoDriver : KeyNoParameters;
        return;
    }
    if (result != ERROR_SUCCESS) {
        r->key = result == ERROR_ACCESS_DENIED ? KeyAccessDenied : KeyError;
        r->keyError = result;
        return;
    }
    static const char *const names[] = {"SMEnable", "SDSwitch"};
    r->key = KeyOpened;
    for (int k = 0; k < 2; k++) {
        LONG error = ERROR_SUCCESS;
        r->values[k] = ReadDword(key, names[k], &r->data[k], &error);
        if (error != ERROR_SUCCESS) {
            r->key = KeyError;
            r->keyError = error;
        }
    }
    RegCloseKey(key);
}

// quillset's record of the last run, in the view quillset writes it to.
static int ReadRunRecord(RunRecord *run)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RecordKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, size = sizeof *run;
    int read = RegQueryValueExA(key, RecordRunName, NULL, &type, reinterpret_cast<BYTE *>(run), &size) ==
                   ERROR_SUCCESS &&
               type == REG_BINARY && size == sizeof *run;
    RegCloseKey(key);
    return read;
}

// The clock, and the time since the machine started: GetTickCount64 where
// there is one (Vista and later), looked up as XP has none; else the 32 bits
// of GetTickCount, which the verdict knows to wrap.
static void ReadClock(VerifyReadings *r)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    r->now = static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    typedef ULONGLONG(WINAPI * TickCount64)(void);
    TickCount64 tickCount64 = reinterpret_cast<TickCount64>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64")));
    r->uptimeWraps = tickCount64 == NULL;
    r->uptimeMs = tickCount64 != NULL ? tickCount64() : GetTickCount();
}

void ReadVerifyReadings(const wchar_t *path, VerifyReadings *readings)
{
    ZeroMemory(readings, sizeof *readings);
    readings->path = path != NULL ? path : L"";
    readings->file = ReadSettingsFile(path, readings->want);
    ReadDriverValues(readings);
    char instanceId[DeviceIdChars + 1];
    readings->controller = ReadControllerState(&readings->problem, instanceId);
    readings->controllerRecorded = RecordNamesDevice(instanceId);
    readings->runRead = ReadRunRecord(&readings->run);
    ReadClock(readings);
}
