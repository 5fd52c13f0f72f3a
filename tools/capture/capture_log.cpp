#include <stdio.h>

#include "capture_log.h"

// Lines of our own start so, and message lines with a time of day.
static const char Mark[] = "====";

// snprintf's count, kept within the buffer when the text was cut.
static DWORD Written(int length, DWORD size)
{
    if (length < 0)
        return 0;
    return static_cast<DWORD>(length) < size ? static_cast<DWORD>(length) : size - 1;
}

HANDLE OpenCaptureLog(const WCHAR *logPath, char *refusal, DWORD refusalSize)
{
    refusal[0] = '\0';
    // Appends only, so no write can land anywhere but at the end; a link in
    // the log's own place is opened itself, not followed.
    HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return NULL;
    // The handle we write through, so the file cannot change after the check.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(log, &info))
        snprintf(refusal, refusalSize, "its file information cannot be read (error %lu)", GetLastError());
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        snprintf(refusal, refusalSize, "it is a reparse point (a symbolic link or a junction)");
    else if (info.nNumberOfLinks > 1)
        snprintf(refusal, refusalSize, "it has %lu names (hard links), so it may be another file", info.nNumberOfLinks);
    if (refusal[0] == '\0')
        return log;
    CloseHandle(log);
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
