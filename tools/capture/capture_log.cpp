#include "capture_log.h"

// Lines of our own start so, and message lines with a time of day.
static const char Mark[] = "====";

static void StampNow(FILE *log)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    WCHAR computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    char computerUtf8[4 * (MAX_COMPUTERNAME_LENGTH + 1)];
    if (!GetComputerNameW(computer, &size) ||
        !WideCharToMultiByte(CP_UTF8, 0, computer, -1, computerUtf8, sizeof computerUtf8, NULL, NULL))
        lstrcpyA(computerUtf8, "?");
    fprintf(log, "%s %04u-%02u-%02u %02u:%02u:%02u %s ", Mark, now.wYear, now.wMonth, now.wDay, now.wHour,
            now.wMinute, now.wSecond, computerUtf8);
}

FILE *OpenCaptureLog(const WCHAR *logPath, const WCHAR *programPath, const char *version)
{
    FILE *log = _wfopen(logPath, L"a");
    if (log == NULL)
        return NULL;
    static char pathUtf8[4 * MAX_PATH];
    if (!WideCharToMultiByte(CP_UTF8, 0, programPath, -1, pathUtf8, sizeof pathUtf8, NULL, NULL))
        lstrcpyA(pathUtf8, "?");
    StampNow(log);
    fprintf(log, "start %s, file version %s\n", pathUtf8, version);
    fflush(log);
    return log;
}

void LogCapturedMessage(FILE *log, const char *escapedText)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    fprintf(log, "%02u:%02u:%02u.%03u  %s\n", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, escapedText);
    // A run that is killed still leaves what it wrote so far.
    fflush(log);
}

void CloseCaptureLog(FILE *log, const char *how, Outcome outcome, const char *outcomeText)
{
    StampNow(log);
    fprintf(log, "%s, outcome %d: %s\n", how, static_cast<int>(outcome), outcomeText);
    fclose(log);
}
