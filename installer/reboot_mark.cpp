#include "reboot_mark.h"

#include <windows.h>

static const char MarkKey[] = "SOFTWARE\\quillset";
static const char MarkValue[] = "RebootPending";

int SetRebootMark()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, MarkKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return 0;
    DWORD one = 1;
    LONG status = RegSetValueExA(key, MarkValue, 0, REG_DWORD, (const BYTE *)&one, sizeof one);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

int ClearRebootMark()
{
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, MarkKey, 0, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return status == ERROR_FILE_NOT_FOUND;
    status = RegDeleteValueA(key, MarkValue);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

int RebootMarked()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, MarkKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0, size = sizeof value, type = REG_NONE;
    LONG status = RegQueryValueExA(key, MarkValue, NULL, &type, (BYTE *)&value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && value == 1;
}
