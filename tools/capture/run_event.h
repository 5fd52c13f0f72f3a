// One event per run in the Application log, from the event source
// "quillset", whose texts are the message table in qscapture.exe.
#ifndef QUILLSET_RUN_EVENT_H
#define QUILLSET_RUN_EVENT_H

#include <windows.h>

#include "outcome.h"

// Writes the event: its type and ID follow the outcome, its strings are the
// outcome code and text, the program's path and version and the run's
// escaped messages, one a line. Returns 0 with GetLastError when it cannot.
int ReportRunEvent(Outcome outcome, const char *outcomeText, const WCHAR *programPath, const char *version,
                   const char *messages);

// Create and remove the source's key, so that Event Viewer finds the texts
// in the running qscapture.exe. Return 0 with GetLastError when they cannot;
// removing a source that is not there succeeds.
int RegisterRunEventSource(void);
int UnregisterRunEventSource(void);

#endif
