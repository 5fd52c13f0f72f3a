// WriteSettings undone. SaveSettings (deferred, before it) records the
// settings file and its .bak as they are, in the installation folder
// (CustomActionData), where no user can plant a link for SYSTEM to follow:
// a copy NAME.before, or an empty NAME.none for a file that is not there,
// and kvinst.none for a missing folder. RestoreSettings,
// the rollback action sequenced after SaveSettings, puts back what was
// recorded; Windows Installer only keeps it for rollback once SaveSettings
// has succeeded, so it never acts on a half-made or older record.
// ForgetSettings, the commit action, drops the record.
#include "run_logged.h"

#include <msiquery.h>
#include <stdio.h>

static const WCHAR *const SettingsNames[] = {L"kvconfig.txt", L"kvconfig.txt.bak"};
static const char *const LogNames[] = {"kvconfig.txt", "kvconfig.txt.bak"};
static const size_t SettingsCount = sizeof SettingsNames / sizeof SettingsNames[0];

// The record folder (ending in a backslash) and %windir%\kvinst.
static int RecordPaths(MSIHANDLE install, WCHAR *folder, WCHAR *kvinst)
{
    DWORD size = MAX_PATH;
    if (MsiGetPropertyW(install, L"CustomActionData", folder, &size) != ERROR_SUCCESS || size == 0 ||
        size + 32 >= MAX_PATH || folder[size - 1] != L'\\') {
        LogLine(install, "quillset: the settings record has no usable folder (CustomActionData)");
        return 0;
    }
    UINT length = GetWindowsDirectoryW(kvinst, MAX_PATH);
    if (length == 0 || length + 32 >= MAX_PATH) {
        LogLine(install, "quillset: the Windows folder cannot be found");
        return 0;
    }
    lstrcatW(kvinst, L"\\kvinst");
    return 1;
}

static void Join(WCHAR *out, const WCHAR *first, const WCHAR *second, const WCHAR *third)
{
    lstrcpyW(out, first);
    lstrcatW(out, second);
    lstrcatW(out, third);
}

static int Exists(const WCHAR *path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Deletes a file, read-only or not; a file that is not there counts as deleted.
static int Remove(const WCHAR *path)
{
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path))
        return 1;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

static int MakeEmpty(const WCHAR *path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    return 1;
}

static void LogFailure(MSIHANDLE install, const char *what, const char *name)
{
    char text[200];
    snprintf(text, sizeof text, "quillset: %s %s, error %lu", what, name, GetLastError());
    LogLine(install, text);
}

// The install fails unless every file's state is recorded.
extern "C" __declspec(dllexport) UINT __stdcall SaveSettings(MSIHANDLE install)
{
    WCHAR folder[MAX_PATH], kvinst[MAX_PATH], target[MAX_PATH], before[MAX_PATH], none[MAX_PATH];
    if (!RecordPaths(install, folder, kvinst))
        return ERROR_INSTALL_FAILURE;
    for (size_t i = 0; i < SettingsCount; i++) {
        const WCHAR *name = SettingsNames[i];
        Join(target, kvinst, L"\\", name);
        Join(before, folder, name, L".before");
        Join(none, folder, name, L".none");
        if (!Remove(before) || !Remove(none)) {
            LogFailure(install, "cannot clear the old record of", LogNames[i]);
            return ERROR_INSTALL_FAILURE;
        }
        DWORD attributes = GetFileAttributesW(target);
        DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        int recorded;
        if (attributes == INVALID_FILE_ATTRIBUTES)
            recorded = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && MakeEmpty(none);
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            recorded = 1;  // qscheck refuses to write there, so nothing changes
        else
            recorded = CopyFileW(target, before, FALSE);
        if (!recorded) {
            LogFailure(install, "cannot record", LogNames[i]);
            return ERROR_INSTALL_FAILURE;
        }
    }
    Join(none, folder, L"kvinst", L".none");
    if (!(Exists(kvinst) ? Remove(none) : MakeEmpty(none))) {
        LogFailure(install, "cannot record", "kvinst");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

// A rollback action's result is ignored: it says what it could not undo.
extern "C" __declspec(dllexport) UINT __stdcall RestoreSettings(MSIHANDLE install)
{
    WCHAR folder[MAX_PATH], kvinst[MAX_PATH], target[MAX_PATH], before[MAX_PATH], none[MAX_PATH];
    if (!RecordPaths(install, folder, kvinst))
        return ERROR_SUCCESS;
    int whole = 1;
    for (size_t i = 0; i < SettingsCount; i++) {
        const WCHAR *name = SettingsNames[i];
        Join(target, kvinst, L"\\", name);
        Join(before, folder, name, L".before");
        Join(none, folder, name, L".none");
        if (Exists(before)) {
            SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
            if (!MoveFileExW(before, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
                LogFailure(install, "cannot put back", LogNames[i]);
                whole = 0;
            }
        } else if (Exists(none)) {
            if (!Remove(target)) {
                LogFailure(install, "cannot remove the new", LogNames[i]);
                whole = 0;
            }
            Remove(none);
        }
    }
    Join(none, folder, L"kvinst", L".none");
    if (Exists(none)) {
        RemoveDirectoryW(kvinst);
        Remove(none);
    }
    if (whole)
        LogLine(install, "quillset: the settings file and its .bak are back as they were before this install");
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall ForgetSettings(MSIHANDLE install)
{
    WCHAR folder[MAX_PATH], kvinst[MAX_PATH], record[MAX_PATH];
    if (!RecordPaths(install, folder, kvinst))
        return ERROR_SUCCESS;
    for (size_t i = 0; i < SettingsCount; i++) {
        Join(record, folder, SettingsNames[i], L".before");
        Remove(record);
        Join(record, folder, SettingsNames[i], L".none");
        Remove(record);
    }
    Join(record, folder, L"kvinst", L".none");
    Remove(record);
    return ERROR_SUCCESS;
}
