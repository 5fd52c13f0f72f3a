#include "debug_capture.h"

// nDebugStringLength is 16 bits wide, so no debug string is longer than this.
static const DWORD MaxDebugString = 0x10000;

static char AnsiText[MaxDebugString * 2];
static WCHAR WideText[MaxDebugString];

DWORD MonotonicMs(void)
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<DWORD>(counter.QuadPart * 1000 / frequency.QuadPart);
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
    return WideCharToMultiByte(CP_ACP, 0, WideText, wideLength, AnsiText, sizeof AnsiText, NULL, NULL);
}

// Handles one event; returns the continue status and sets *exited at the end.
static DWORD HandleDebugEvent(const DEBUG_EVENT *event, HANDLE process, DWORD startMs,
                              const DebugCaptureHooks *hooks, DWORD *exitCode, int *exited)
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
    case OUTPUT_DEBUG_STRING_EVENT: {
        DWORD elapsed = MonotonicMs() - startMs;
        int length = ReadDebugString(process, &event->u.DebugString);
        if (length < 0)
            hooks->onString(hooks->context, elapsed, NULL, 0);
        else
            hooks->onString(hooks->context, elapsed, AnsiText, static_cast<DWORD>(length));
        break;
    }
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

int RunUnderDebugger(char *commandLine, const char *currentDirectory, const DebugCaptureHooks *hooks,
                     DWORD *exitCode)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;

    DWORD startMs = MonotonicMs();
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, currentDirectory,
                        &startup, &info))
        return 0;

    // onIdle runs about every idleIntervalMs, whether or not events come.
    DWORD nextIdleMs = startMs + hooks->idleIntervalMs;
    int exited = 0;
    int ok = 1;
    while (!exited) {
        DWORD timeout = INFINITE;
        if (hooks->onIdle != NULL) {
            DWORD now = MonotonicMs();
            if (static_cast<LONG>(nextIdleMs - now) <= 0) {
                // The exit event still comes, and ends the loop as usual.
                if (!hooks->onIdle(hooks->context, now - startMs))
                    TerminateProcess(info.hProcess, DebuggeeEnded);
                nextIdleMs = now + hooks->idleIntervalMs;
            }
            timeout = nextIdleMs - now;
        }
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, timeout)) {
            if (GetLastError() != ERROR_SEM_TIMEOUT) {
                ok = 0;
                break;
            }
            continue;
        }
        DWORD status = HandleDebugEvent(&event, info.hProcess, startMs, hooks, exitCode, &exited);
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }

    if (!ok) {
        DWORD error = GetLastError();
        TerminateProcess(info.hProcess, 1);
        SetLastError(error);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return ok;
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
