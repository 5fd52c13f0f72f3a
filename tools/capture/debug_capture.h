// Runs a program under a minimal debugger loop and hands every debug string
// it writes to a callback, with the time it arrived.
#ifndef QUILLSET_DEBUG_CAPTURE_H
#define QUILLSET_DEBUG_CAPTURE_H

#include <windows.h>

// Called once per OutputDebugString of the debuggee, after the debuggee was
// let go on, so a slow callback does not hold it. The text is ANSI and
// terminated; length counts its bytes. A string that could not be read from
// the debuggee arrives as NULL. Milliseconds count from just before the
// debuggee was created; they and the local time are taken as the event came,
// before the debuggee went on.
typedef void (*DebugStringProc)(void *context, DWORD elapsedMs, const SYSTEMTIME *arrived, const char *text,
                                DWORD length);

// Called about every idleIntervalMs while the debuggee runs, so the caller
// can change its world meanwhile. Returning 0 ends the debuggee with
// exit code DebuggeeEnded.
typedef int (*DebugIdleProc)(void *context, DWORD elapsedMs);

const DWORD DebuggeeEnded = 0xE2DEAD;

struct DebugCaptureHooks {
    DebugStringProc onString;
    DebugIdleProc onIdle; // may be NULL
    DWORD idleIntervalMs; // used only with onIdle
    void *context;
    // Either lets the debuggee run on without us: after detachAfterMs (0:
    // never), or as soon as *stopRequest (may be NULL) is nonzero.
    DWORD detachAfterMs;
    volatile LONG *stopRequest;
    // Called (may be NULL) when our job forbids breakaway, so that the
    // debuggee had to be started inside it and ends with it.
    void (*onInsideJob)(void *context);
};

// Starts the program at application, a full path (NULL: the one
// commandLine names, found as CreateProcessW finds it), with commandLine
// (CreateProcessW may modify it) in currentDirectory (NULL: ours) and debugs
// it until it exits or we detach. The debuggee never
// dies with us: should we end first, it runs on, and it leaves the job we
// run in where the job allows. Returns 1 with the
// debuggee's exit code or *detached set (then GetLastError says why a
// DetachedOnFailure happened), or 0 when it could not be started.
enum { DetachedOnRequest = 1, DetachedOnFailure = 2 };
int RunUnderDebugger(const WCHAR *application, WCHAR *commandLine, const WCHAR *currentDirectory,
                     const DebugCaptureHooks *hooks, DWORD *exitCode, int *detached);

// Writes text as a C-like literal body: \n, \r, \t, \\, \" and \xNN for
// other control and non-ASCII bytes, so line feeds and message boundaries stay
// visible. Stops before an escape that would not fit; returns the length
// written, without the terminator it always adds (when outSize > 0).
DWORD EscapeDebugText(const char *text, DWORD length, char *out, DWORD outSize);

// Milliseconds on a monotonic clock, finer than GetTickCount's ticks.
DWORD MonotonicMs(void);

#endif
