// The deployment log: a header per run, every message with its time of day,
// and a footer with the exit code and the outcome. Appended, never truncated,
// so one file can hold the runs of many days.
#ifndef QUILLSET_CAPTURE_LOG_H
#define QUILLSET_CAPTURE_LOG_H

#include <stdio.h>

#include <windows.h>

#include "outcome.h"

// Opens the log for appending and writes the header: date and time, computer
// name, the program's path and file version. Names outside ASCII are
// written as UTF-8. NULL when it cannot be opened.
FILE *OpenCaptureLog(const WCHAR *logPath, const WCHAR *programPath, const char *version);
// One message, already escaped, stamped with the time of day.
void LogCapturedMessage(FILE *log, const char *escapedText);
// The footer; also closes the log. how says how the run ended ("exit code
// 0"), outcomeText what it achieved.
void CloseCaptureLog(FILE *log, const char *how, Outcome outcome, const char *outcomeText);

#endif
