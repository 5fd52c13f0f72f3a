#include "capture_log.h"

#include "file_version.h"

// Lines of our own start so, and message lines with a time of day.
static const char Mark[] = "====";

static void StampNow(FILE *log)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof computer;
    if (!GetComputerNameA(computer, &size))
        lstrcpyA(computer, "?");
    fprintf(log, "%s %04u-%02u-%02u %02u:%02u:%02u %s ", Mark, now.wYear, now.wMonth, now.wDay, now.wHour,
            now.wMinute, now.wSecond, computer);
}

FILE *OpenCaptureLog(const char *logPath, const char *programPath)
{
    FILE *log = fopen(logPath, "a");
    if (log == NULL)
        return NULL;
    char version[64];
    ReadFileVersion(programPath, version, sizeof version);
    StampNow(log);
    fprintf(log, "start %s, file version %s\n", programPath, version);
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

void CloseCaptureLog(FILE *log, DWORD startError, DWORD exitCode, Outcome outcome)
{
    StampNow(log);
    if (startError != 0)
        fprintf(log, "cannot start, error %lu", startError);
    else
        fprintf(log, "exit code %lu", exitCode);
    fprintf(log, ", outcome %d: %s\n", static_cast<int>(outcome), OutcomeText(outcome));
    fclose(log);
}
