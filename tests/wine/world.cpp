#include <stdio.h>

#include "device_registrar.h"
#include "e2e.h"

#include <sddl.h>

static const char ServiceKey[] = "System\\CurrentControlSet\\Services\\kvcard";
static const char ParametersKey[] = "System\\CurrentControlSet\\Services\\kvcard\\Parameters";

// Everyone may do anything with the key but write to it.
static const char WriteDenied[] = "D:(D;;KW;;;WD)(A;;KA;;;WD)";
// Everyone may query, set and delete values and nothing else, which is less
// than KEY_WRITE.
static const char SetValueOnly[] = "D:(A;;0x10003;;;WD)";

static const DWORD LargeFileSize = 1024 * 1024;
static const DWORD RandomFileSize = 64 * 1024;

static void SettingsPath(char *path, const char *name)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    snprintf(path, MAX_PATH, "%s\\kvinst%s%s", windows, name[0] ? "\\" : "", name);
}

static int Fail(char *why, DWORD whySize, const char *what)
{
    snprintf(why, whySize, "%s (error %lu)", what, GetLastError());
    return 0;
}

int WorldIsClean(char *why, DWORD whySize)
{
    char directory[MAX_PATH];
    SettingsPath(directory, "");
    HKEY key;
    if (GetFileAttributesA(directory) != INVALID_FILE_ATTRIBUTES)
        snprintf(why, whySize, "%s exists", directory);
    else if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServiceKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        snprintf(why, whySize, "HKLM\\%s exists", ServiceKey);
    } else if (StandInDeviceCount() != 0)
        snprintf(why, whySize, "stand-in devices are registered");
    else
        return 1;
    return 0;
}

DWORD SettingsFileSize(const Case *c)
{
    switch (c->settings) {
    case FileBytes: return c->filler + c->length;
    case LargeFile: return LargeFileSize;
    case RandomFile: return RandomFileSize;
    default: return 0;
    }
}

// Comment lines without a colon, and dots after the last whole one.
static void FillWithComments(char *data, DWORD size)
{
    static const char line[] = "filler text that holds no entry, only to make the file large\r\n";
    DWORD used = 0;
    for (; used + sizeof line - 1 <= size; used += sizeof line - 1)
        CopyMemory(data + used, line, sizeof line - 1);
    FillMemory(data + used, size - used, '.');
}

// Comments, then the two entries in the last line.
static void FillLargeFile(char *data, DWORD size)
{
    static const char tail[] = "SM :1 value = 0, SD :2 value = 3\r\n";
    FillWithComments(data, size - (sizeof tail - 1));
    CopyMemory(data + size - (sizeof tail - 1), tail, sizeof tail - 1);
}

// The same bytes in every run, so a failure can be repeated. No Ctrl-Z and
// no LF, which quillset refuses before the scan that this case is about.
static void FillRandomFile(char *data, DWORD size)
{
    DWORD state = 20240611;
    for (DWORD i = 0; i < size; i++) {
        state = state * 1103515245 + 12345;
        data[i] = static_cast<char>(state >> 16);
        if (data[i] == 0x1A || data[i] == '\n')
            data[i]++;
    }
}

static int WriteSettingsFile(const Case *c)
{
    char path[MAX_PATH];
    SettingsPath(path, "kvconfig.txt");
    DWORD size = SettingsFileSize(c);
    char *data = static_cast<char *>(LocalAlloc(LMEM_FIXED, size + 1));
    if (data == NULL)
        return 0;
    if (c->settings == LargeFile)
        FillLargeFile(data, size);
    else if (c->settings == RandomFile)
        FillRandomFile(data, size);
    else {
        FillWithComments(data, c->filler);
        CopyMemory(data + c->filler, c->bytes, c->length);
    }

    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    int ok = file != INVALID_HANDLE_VALUE && WriteFile(file, data, size, &written, NULL) && written == size;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    LocalFree(data);
    return ok;
}

static int CreateParametersKey(HKEY *key)
{
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, ParametersKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, key, NULL) ==
           ERROR_SUCCESS;
}

static int SetValues(HKEY key, DWORD smEnable, DWORD sdSwitch)
{
    const BYTE *sm = reinterpret_cast<const BYTE *>(&smEnable), *sd = reinterpret_cast<const BYTE *>(&sdSwitch);
    return RegSetValueExA(key, "SMEnable", 0, REG_DWORD, sm, sizeof smEnable) == ERROR_SUCCESS &&
           RegSetValueExA(key, "SDSwitch", 0, REG_DWORD, sd, sizeof sdSwitch) == ERROR_SUCCESS;
}

static int DenyWrites(HKEY key, const char *acl)
{
    PSECURITY_DESCRIPTOR descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(acl, SDDL_REVISION_1, &descriptor, NULL))
        return 0;
    int ok = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    if (!ok)
        return 0;
    // A platform that ignored the ACL would turn this case into the ordinary run.
    HKEY probe;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParametersKey, 0, KEY_WRITE, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        SetLastError(ERROR_SUCCESS);
        return 0;
    }
    return 1;
}

static int BuildKey(const Case *c)
{
    KeyState state = c->key;
    if (state == KeyAbsent || state == KeyLate)
        return 1;
    HKEY key;
    if (!CreateParametersKey(&key))
        return 0;
    const char *acl = state == KeyDenied ? WriteDenied : state == KeySetValueOnly ? SetValueOnly : NULL;
    int ok = (state == KeyHolding ? SetValues(key, c->smEnable, c->sdSwitch) : SetValues(key, Sentinel, Sentinel)) &&
             (acl == NULL || DenyWrites(key, acl));
    RegCloseKey(key);
    return ok;
}

int BuildWorld(const Case *c, World *world, char *why, DWORD whySize)
{
    ZeroMemory(world, sizeof *world);
    char directory[MAX_PATH];
    SettingsPath(directory, "");
    if (c->settings != NoDirectory && !CreateDirectoryA(directory, NULL))
        return Fail(why, whySize, "cannot create the settings directory");
    if (c->settings != NoDirectory && c->settings != NoFile && !WriteSettingsFile(c))
        return Fail(why, whySize, "cannot write the settings file");
    if (!BuildKey(c))
        return Fail(why, whySize, "cannot set up the driver key");
    for (int i = 0; i < 3 && c->devices[i] != NULL; i++) {
        const char *ids = c->devices[i] == NO_HWID ? NULL : c->devices[i];
        if (!RegisterStandInDevice(ids, world->instanceIds[i], sizeof world->instanceIds[i]))
            return Fail(why, whySize, "cannot register a stand-in device");
        world->deviceCount++;
    }
    return 1;
}

void CreateLateKey(World *world)
{
    HKEY key;
    if (CreateParametersKey(&key)) {
        RegCloseKey(key);
        world->keyCreatedLate = 1;
    }
}

static DWORD ReadDword(HKEY key, const char *name)
{
    DWORD type, data, size = sizeof data;
    if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&data), &size) != ERROR_SUCCESS)
        return NoValue;
    // A value of another type or size is as wrong as a missing one.
    return type == REG_DWORD && size == sizeof data ? data : NoValue - 1;
}

void ReadParameters(DWORD *smEnable, DWORD *sdSwitch)
{
    HKEY key;
    *smEnable = *sdSwitch = NoValue;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParametersKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    *smEnable = ReadDword(key, "SMEnable");
    *sdSwitch = ReadDword(key, "SDSwitch");
    RegCloseKey(key);
}

static int DeleteKeyIfPresent(const char *name)
{
    LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, name);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

static int RemoveIfPresent(BOOL removed)
{
    return removed || GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
}

// quillset's record under HKLM\SOFTWARE\quillset, in the 64-bit view it
// writes; the key is the package's to delete.
static int ForgetRecord(void)
{
    HKEY key;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\quillset", 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
    if (result != ERROR_SUCCESS)
        return result == ERROR_FILE_NOT_FOUND;
    static const char *const names[] = {"DisabledController", "LastRun"};
    int ok = 1;
    for (const char *name : names) {
        result = RegDeleteValueA(key, name);
        ok = ok && (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND);
    }
    RegCloseKey(key);
    return ok;
}

// Undoes everything BuildWorld and the run may have made; the world was
// clean before, so whatever is there now is ours.
int RestoreWorld(World *world, char *why, DWORD whySize)
{
    int ok = 1;
    if (!ForgetRecord())
        ok = Fail(why, whySize, "cannot delete quillset's record");
    for (int i = 0; i < world->deviceCount; i++)
        if (!RemoveDeviceInstance(world->instanceIds[i]))
            ok = Fail(why, whySize, "cannot remove a stand-in device");
    if (!DeleteKeyIfPresent(ParametersKey) || !DeleteKeyIfPresent(ServiceKey))
        ok = Fail(why, whySize, "cannot delete the driver key");
    char path[MAX_PATH];
    SettingsPath(path, "kvconfig.txt");
    if (!RemoveIfPresent(DeleteFileA(path)))
        ok = Fail(why, whySize, "cannot delete the settings file");
    SettingsPath(path, "");
    if (!RemoveIfPresent(RemoveDirectoryA(path)))
        ok = Fail(why, whySize, "cannot remove the settings directory");
    return ok;
}
