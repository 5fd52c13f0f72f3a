// The deployment log: a header per run, every message with its time of day,
// and a footer with the exit code and the outcome. Appended, never truncated,
// so one file can hold the runs of many days. Its lines are made here and
// written by a line writer, so that a slow share never holds the run.
#ifndef QUILLSET_CAPTURE_LOG_H
#define QUILLSET_CAPTURE_LOG_H

#include <windows.h>

#include "outcome.h"

// How long qscapture's last lines may take once it let the program go:
// whoever stopped it waits for its exit, and a footer that cannot be written
// by then is given up.
const DWORD FooterGraceMs = 500;

// Opens the log's folder through *folder, which keeps the folder in its
// place (close it after the log), and in it, by the log's name alone, the
// log through a handle that can only append. NULL when either cannot be
// opened, or when the log may be another file than the one named: it has
// more than one name (hard links) or is a reparse point, or its folder is
// one, or is owned by someone other than SYSTEM, Administrators or our own
// user. Then refusal says why, and nothing was written to it.
HANDLE OpenCaptureLog(const WCHAR *logPath, HANDLE *folder, char *refusal, DWORD refusalSize);
// Each writes one line with its CR LF and returns its length. The header
// and the other lines of our own carry the date, time and computer name;
// names outside ASCII are written as UTF-8.
DWORD FormatLogHeader(char *out, DWORD size, const WCHAR *programPath, const char *version);
DWORD FormatLogNote(char *out, DWORD size, const char *text);
// One message, already escaped, stamped with the time of day it arrived.
DWORD FormatLogMessage(char *out, DWORD size, const SYSTEMTIME *arrived, const char *escapedText);
// how says how the run ended ("exit code 0"), outcomeText what it achieved.
DWORD FormatLogFooter(char *out, DWORD size, const char *how, Outcome outcome, const char *outcomeText);

#endif
