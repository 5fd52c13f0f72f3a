#include <string.h>

#include "replace_file.h"

// ".bak", or a temporary file's name, past the folder.
static const int Room = 16;
static const DWORD MoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

static int Refuse(const char **why, const char *reason, DWORD *error, DWORD code)
{
    *why = reason;
    *error = code;
    return 0;
}

static int WriteTemporary(const wchar_t *temporary, const char *bytes, DWORD length)
{
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, NULL, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    // On disk before it takes the old file's place.
    int ok = WriteFile(file, bytes, length, &written, NULL) && written == length && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return ok;
}

// The backup is made whole beside it and then moved, so that a stopped run
// cannot leave a part of it either.
static int KeepBackup(const wchar_t *path, const wchar_t *folder)
{
    wchar_t copy[MAX_PATH], backup[MAX_PATH];
    if (GetTempFileNameW(folder, L"kvc", 0, copy) == 0)
        return 0;
    lstrcpyW(backup, path);
    lstrcatW(backup, L".bak");
    if (CopyFileW(path, copy, FALSE) && MoveFileExW(copy, backup, MoveFlags))
        return 1;
    DWORD error = GetLastError();
    DeleteFileW(copy);
    SetLastError(error);
    return 0;
}

int ReplaceFileBytes(const wchar_t *path, const char *bytes, DWORD length, const char **why, DWORD *error)
{
    int pathLength = lstrlenW(path);
    if (pathLength == 0 || pathLength + Room > MAX_PATH)
        return Refuse(why, "the path is empty or too long", error, 0);
    wchar_t folder[MAX_PATH], temporary[MAX_PATH] = L"";
    int cut = pathLength;
    while (cut > 0 && path[cut - 1] != L'\\' && path[cut - 1] != L'/')
        cut--;
    lstrcpynW(folder, cut > 0 ? path : L".", cut > 0 ? cut + 1 : 2);

    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(why, "a folder is in its place", error, 0);
    // MoveFileEx would refuse it too, but only after the backup was made.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return Refuse(why, "it is read-only", error, 0);
    DWORD missing = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    // A file that may be there but cannot be looked at would be replaced
    // without its .bak.
    if (missing != ERROR_SUCCESS && missing != ERROR_FILE_NOT_FOUND && missing != ERROR_PATH_NOT_FOUND)
        return Refuse(why, "it cannot be looked at", error, missing);
    int madeFolder = 0;
    if (missing == ERROR_PATH_NOT_FOUND) {
        if (!CreateDirectoryW(folder, NULL))
            return Refuse(why, "its folder cannot be created", error, GetLastError());
        madeFolder = 1;
    }

    const char *failure = NULL;
    if (GetTempFileNameW(folder, L"kvc", 0, temporary) == 0)
        failure = "no temporary file can be made in its folder";
    else if (!WriteTemporary(temporary, bytes, length))
        failure = "the temporary file cannot be written";
    // The old file stays in place until the move, with or without its copy.
    else if (missing == ERROR_SUCCESS && !KeepBackup(path, folder))
        failure = "the previous file cannot be kept as .bak";
    else if (!MoveFileExW(temporary, path, MoveFlags))
        failure = "it cannot be replaced";
    if (failure == NULL)
        return 1;
    DWORD code = GetLastError();
    if (temporary[0] != L'\0')
        DeleteFileW(temporary);
    if (madeFolder)
        RemoveDirectoryW(folder);
    return Refuse(why, failure, error, code);
}

int FileHoldsBytes(const wchar_t *path, const char *bytes, DWORD length)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // One byte more than expected tells a longer file.
    char held[512];
    DWORD read = 0;
    int same = length < sizeof held && ReadFile(file, held, length + 1, &read, NULL) && read == length &&
               memcmp(held, bytes, length) == 0;
    CloseHandle(file);
    return same;
}
