#include <stdio.h>

#include "capture_log.h"
#include "open_in_folder.h"

#include <aclapi.h>
#include <sddl.h>

// Lines of our own start so, and message lines with a time of day.
static const char Mark[] = "====";

// snprintf's count, kept within the buffer when the text was cut.
static DWORD Written(int length, DWORD size)
{
    if (length < 0)
        return 0;
    return static_cast<DWORD>(length) < size ? static_cast<DWORD>(length) : size - 1;
}

// A folder's owner may always rewrite its permissions and make it a link (a
// junction, or one into \RPC Control) to a file of the owner's choice: only
// SYSTEM, Administrators or we ourselves may own the log's.
static int TrustedOwner(PSID owner)
{
    if (owner == NULL)
        return 0;
    if (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
        return 1;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 0;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } us;
    DWORD size;
    int ours = GetTokenInformation(token, TokenUser, &us, sizeof us, &size) && EqualSid(owner, us.user.User.Sid);
    CloseHandle(token);
    return ours;
}

// On a share the owner is the server's business (often the computer's own
// account), and a link there leads only to the server's files, with the
// rights the server gives this machine.
static int OnShare(const WCHAR *fullPath)
{
    // \\server\share\... and \\?\UNC\server\share\...
    if (fullPath[0] == '\\' && fullPath[1] == '\\') {
        if (fullPath[2] != '?' && fullPath[2] != '.')
            return 1;
        WCHAR unc[5];
        lstrcpynW(unc, fullPath + 4, 5);
        return lstrcmpiW(unc, L"UNC\\") == 0;
    }
    WCHAR root[] = {fullPath[0], ':', '\\', 0};
    return fullPath[1] == ':' && GetDriveTypeW(root) == DRIVE_REMOTE;
}

// Opens the folder of fullPath, whose file name starts at name, without
// FILE_SHARE_DELETE, so that it can be neither renamed nor replaced while
// held. NULL when it cannot be opened, or with a refusal when it may lead
// elsewhere.
static HANDLE OpenLogFolder(WCHAR *fullPath, WCHAR *name, char *refusal, DWORD refusalSize)
{
    // A drive's root keeps its backslash ("C:\", not "C:", its current folder).
    WCHAR *end = name > fullPath + 1 && name[-2] == ':' ? name : name - 1;
    WCHAR kept = *end;
    *end = 0;
    HANDLE folder = CreateFileW(fullPath, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    *end = kept;
    if (folder == INVALID_HANDLE_VALUE)
        return NULL;
    BY_HANDLE_FILE_INFORMATION info;
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD error;
    int local = !OnShare(fullPath);
    if (!GetFileInformationByHandle(folder, &info))
        snprintf(refusal, refusalSize, "its folder's information cannot be read (error %lu)", GetLastError());
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        snprintf(refusal, refusalSize, "its folder is a reparse point (a symbolic link or a junction), so it may lead "
                                       "elsewhere");
    else if (local && (error = GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL,
                                               NULL, NULL, &descriptor)) != ERROR_SUCCESS)
        snprintf(refusal, refusalSize, "its folder's owner cannot be read (error %lu)", error);
    else if (local && !TrustedOwner(owner)) {
        char *sid = NULL;
        if (owner == NULL || !ConvertSidToStringSidA(owner, &sid))
            sid = NULL;
        snprintf(refusal, refusalSize,
                 "its folder is owned by %s, not by SYSTEM, Administrators or the user qscapture runs as, so that "
                 "owner may make it lead elsewhere",
                 sid != NULL ? sid : "an unknown account");
        LocalFree(sid);
    }
    LocalFree(descriptor);
    if (refusal[0] == '\0')
        return folder;
    CloseHandle(folder);
    return NULL;
}

HANDLE OpenCaptureLog(const WCHAR *logPath, HANDLE *folder, char *refusal, DWORD refusalSize)
{
    refusal[0] = '\0';
    *folder = NULL;
    // The folder by the full path CreateFileW would make, the log by its
    // bare name, which starts at name.
    static WCHAR fullPath[32768];
    WCHAR *name = NULL;
    DWORD length = GetFullPathNameW(logPath, sizeof fullPath / sizeof fullPath[0], fullPath, &name);
    if (length == 0 || length >= sizeof fullPath / sizeof fullPath[0] || name == NULL)
        return NULL;
    HANDLE held = OpenLogFolder(fullPath, name, refusal, refusalSize);
    if (held == NULL)
        return NULL;
    // In the folder just checked, through its handle: by the full path,
    // every folder above it would be looked up again, and one of them may
    // lead elsewhere by now. Appends only, so no write can land anywhere but
    // at the end; a link in the log's own place is opened itself, not
    // followed.
    HANDLE log = AppendInFolder(held, name);
    // The handle we write through, so the file cannot change after the check.
    BY_HANDLE_FILE_INFORMATION info;
    if (log != NULL) {
        if (!GetFileInformationByHandle(log, &info))
            snprintf(refusal, refusalSize, "its file information cannot be read (error %lu)", GetLastError());
        else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            snprintf(refusal, refusalSize, "it is a reparse point (a symbolic link or a junction)");
        else if (info.nNumberOfLinks > 1)
            snprintf(refusal, refusalSize, "it has %lu names (hard links), so it may be another file",
                     info.nNumberOfLinks);
    }
    if (log != NULL && refusal[0] == '\0') {
        *folder = held;
        return log;
    }
    DWORD error = GetLastError();
    if (log != NULL)
        CloseHandle(log);
    CloseHandle(held);
    // For the message of a log that cannot be opened.
    SetLastError(error);
    return NULL;
}

static DWORD Stamped(char *out, DWORD size, const char *text)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    WCHAR computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    char computerUtf8[4 * (MAX_COMPUTERNAME_LENGTH + 1)];
    if (!GetComputerNameW(computer, &length) ||
        !WideCharToMultiByte(CP_UTF8, 0, computer, -1, computerUtf8, sizeof computerUtf8, NULL, NULL))
        lstrcpyA(computerUtf8, "?");
    return Written(snprintf(out, size, "%s %04u-%02u-%02u %02u:%02u:%02u %s %s\r\n", Mark, now.wYear, now.wMonth,
                            now.wDay, now.wHour, now.wMinute, now.wSecond, computerUtf8, text),
                   size);
}

DWORD FormatLogHeader(char *out, DWORD size, const WCHAR *programPath, const char *version)
{
    static char pathUtf8[4 * MAX_PATH], text[sizeof pathUtf8 + 96];
    if (!WideCharToMultiByte(CP_UTF8, 0, programPath, -1, pathUtf8, sizeof pathUtf8, NULL, NULL))
        lstrcpyA(pathUtf8, "?");
    snprintf(text, sizeof text, "start %s, file version %s", pathUtf8, version);
    return Stamped(out, size, text);
}

DWORD FormatLogNote(char *out, DWORD size, const char *text)
{
    return Stamped(out, size, text);
}

DWORD FormatLogMessage(char *out, DWORD size, const SYSTEMTIME *arrived, const char *escapedText)
{
    return Written(snprintf(out, size, "%02u:%02u:%02u.%03u  %s\r\n", arrived->wHour, arrived->wMinute,
                            arrived->wSecond, arrived->wMilliseconds, escapedText),
                   size);
}

DWORD FormatLogFooter(char *out, DWORD size, const char *how, Outcome outcome, const char *outcomeText)
{
    char text[512];
    snprintf(text, sizeof text, "%s, outcome %d: %s", how, static_cast<int>(outcome), outcomeText);
    return Stamped(out, size, text);
}
