#include "debug_capture.h"

#include "counter_ms.h"

// nDebugStringLength is 16 bits wide, so no debug string is longer than this.
static const DWORD MaxDebugString = 0x10000;

static char AnsiText[MaxDebugString * 2];
static WCHAR WideText[MaxDebugString];

DWORD MonotonicMs(void)
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return CounterMs(counter.QuadPart, frequency.QuadPart);
}

// Copies the string out of the debuggee; returns its length without the
// terminator, or -1 when its memory cannot be read.
static int ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO *info)
{
    DWORD count = info->nDebugStringLength; // characters, terminator included
    SIZE_T read = 0;
    if (!info->fUnicode) {
        if (!ReadProcessMemory(process, info->lpDebugStringData, AnsiText, count, &read) || read != count)
            return -1;
        AnsiText[count] = '\0';
        return lstrlenA(AnsiText);
    }
    if (!ReadProcessMemory(process, info->lpDebugStringData, WideText, count * sizeof(WCHAR), &read) ||
        read != count * sizeof(WCHAR))
        return -1;
    int wideLength = 0;
    while (wideLength < static_cast<int>(count) && WideText[wideLength] != 0)
        wideLength++;
    int length = WideCharToMultiByte(CP_ACP, 0, WideText, wideLength, AnsiText, sizeof AnsiText - 1, NULL, NULL);
    AnsiText[length] = '\0';
    return length;
}

// A debug string read into AnsiText, to hand on once the debuggee goes on.
struct PendingString {
    int present;
    int length; // -1: unreadable
    DWORD elapsedMs;
    SYSTEMTIME arrived;
};

// Handles one event; returns the continue status and sets *exited at the end.
static DWORD HandleDebugEvent(const DEBUG_EVENT *event, HANDLE process, DWORD startMs, PendingString *pending,
                              DWORD *exitCode, int *exited)
{
    switch (event->dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
        // The image and DLL file handles are ours to close; the process
        // and thread handles belong to the loop.
        if (event->u.CreateProcessInfo.hFile != NULL)
            CloseHandle(event->u.CreateProcessInfo.hFile);
        break;
    case LOAD_DLL_DEBUG_EVENT:
        if (event->u.LoadDll.hFile != NULL)
            CloseHandle(event->u.LoadDll.hFile);
        break;
    case OUTPUT_DEBUG_STRING_EVENT:
        pending->present = 1;
        pending->elapsedMs = MonotonicMs() - startMs;
        GetLocalTime(&pending->arrived);
        pending->length = ReadDebugString(process, &event->u.DebugString);
        break;
    case EXCEPTION_DEBUG_EVENT: {
        // The loader's initial breakpoint is ours (a 64-bit build sees a
        // 32-bit program's as STATUS_WX86_BREAKPOINT); every other exception
        // goes back to the debuggee's own handlers.
        DWORD code = event->u.Exception.ExceptionRecord.ExceptionCode;
        if (code == EXCEPTION_BREAKPOINT || code == 0x4000001F)
            return DBG_CONTINUE;
        return DBG_EXCEPTION_NOT_HANDLED;
    }
    case EXIT_PROCESS_DEBUG_EVENT:
        *exitCode = event->u.ExitProcess.dwExitCode;
        *exited = 1;
        break;
    default:
        break;
    }
    return DBG_CONTINUE;
}

// How often a stop request is looked at while no event comes.
static const DWORD StopPollMs = 100;

static DWORD Shorter(DWORD timeout, DWORD candidate)
{
    return candidate < timeout ? candidate : timeout;
}

int RunUnderDebugger(const WCHAR *application, WCHAR *commandLine, const WCHAR *currentDirectory,
                     const DebugCaptureHooks *hooks, DWORD *exitCode, int *detached)
{
    // Nothing of ours for the debuggee, which writes only to us: one left
    // running must hold neither our console nor the caller's output, whose
    // pipe a deployment tool reads until it closes. Windows gives a GUI
    // program neither; Wine gives it our console unless it is detached, and
    // our standard handles (detached, handles to us) unless it is given none.
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info;
    *detached = 0;

    DWORD startMs = MonotonicMs();
    // Its own process group: Ctrl+C in our console stops us, not the
    // debuggee. Out of our job: Task Scheduler's time limit or a deployment
    // agent that ends the job must not end the debuggee between its disable
    // and its enable.
    DWORD flags = DEBUG_ONLY_THIS_PROCESS | CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS;
    BOOL started = CreateProcessW(application, commandLine, NULL, NULL, FALSE, flags | CREATE_BREAKAWAY_FROM_JOB,
                                  NULL, currentDirectory, &startup, &info);
    // A job that forbids breakaway refuses the flag so; better inside it
    // than not at all.
    if (!started && GetLastError() == ERROR_ACCESS_DENIED) {
        started = CreateProcessW(application, commandLine, NULL, NULL, FALSE, flags, NULL, currentDirectory, &startup,
                                 &info);
        if (started && hooks->onInsideJob != NULL)
            hooks->onInsideJob(hooks->context);
    }
    if (!started)
        return 0;
    // Windows would end the debuggee with us; quillset killed between its
    // disable and enable leaves the controller disabled.
    DebugSetProcessKillOnExit(FALSE);

    // onIdle runs about every idleIntervalMs, whether or not events come.
    DWORD nextIdleMs = startMs + hooks->idleIntervalMs;
    int exited = 0;
    while (!exited) {
        DWORD now = MonotonicMs();
        if ((hooks->stopRequest != NULL && *hooks->stopRequest) ||
            (hooks->detachAfterMs != 0 && now - startMs >= hooks->detachAfterMs)) {
            // Should this fail, our exit detaches all the same.
            DebugActiveProcessStop(info.dwProcessId);
            *detached = DetachedOnRequest;
            break;
        }
        DWORD timeout = INFINITE;
        if (hooks->onIdle != NULL) {
            if (static_cast<LONG>(nextIdleMs - now) <= 0) {
                // The exit event still comes, and ends the loop as usual.
                if (!hooks->onIdle(hooks->context, now - startMs))
                    TerminateProcess(info.hProcess, DebuggeeEnded);
                nextIdleMs = now + hooks->idleIntervalMs;
            }
            timeout = nextIdleMs - now;
        }
        if (hooks->detachAfterMs != 0)
            timeout = Shorter(timeout, hooks->detachAfterMs - (now - startMs));
        if (hooks->stopRequest != NULL)
            timeout = Shorter(timeout, StopPollMs);
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, timeout)) {
            DWORD error = GetLastError();
            if (error != ERROR_SEM_TIMEOUT) {
                // Never ended for our failure: it may be between its disable
                // and its enable.
                DebugActiveProcessStop(info.dwProcessId);
                *detached = DetachedOnFailure;
                SetLastError(error);
                break;
            }
            continue;
        }
        PendingString pending = {};
        DWORD status = HandleDebugEvent(&event, info.hProcess, startMs, &pending, exitCode, &exited);
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (pending.present)
            hooks->onString(hooks->context, pending.elapsedMs, &pending.arrived, pending.length < 0 ? NULL : AnsiText,
                            pending.length < 0 ? 0 : static_cast<DWORD>(pending.length));
    }

    DWORD error = GetLastError();
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    SetLastError(error);
    return 1;
}

DWORD EscapeDebugText(const char *text, DWORD length, char *out, DWORD outSize)
{
    static const char hex[] = "0123456789abcdef";
    DWORD used = 0;
    for (DWORD i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char piece[5];
        DWORD pieceLength = 2;
        piece[0] = '\\';
        switch (c) {
        case '\n': piece[1] = 'n'; break;
        case '\r': piece[1] = 'r'; break;
        case '\t': piece[1] = 't'; break;
        case '\\': piece[1] = '\\'; break;
        case '"': piece[1] = '"'; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                piece[0] = static_cast<char>(c);
                pieceLength = 1;
            } else {
                piece[1] = 'x';
                piece[2] = hex[c >> 4];
                piece[3] = hex[c & 15];
                pieceLength = 4;
            }
        }
        // Whole escapes only, so a cut text never ends in half of one.
        if (used + pieceLength >= outSize)
            break;
        CopyMemory(out + used, piece, pieceLength);
        used += pieceLength;
    }
    if (outSize > 0)
        out[used] = '\0';
    return used;
}
