// qscapture: shows what a program writes to the debugger output, one message
// per line with its arrival time, like DebugView but exact about boundaries.
// For deployments it also keeps a log, writes an event and turns quillset's
// messages into an exit code.
#include <stdio.h>

#include "capture_log.h"
#include "debug_capture.h"
#include "dll_search.h"
#include "file_version.h"
#include "outcome.h"
#include "run_event.h"

static const char Usage[] =
    "usage: qscapture [--log FILE] [--outcome] [--eventlog] [--timeout SECONDS]\n"
    "                 <program> [arguments...]\n"
    "       qscapture --register-eventlog | --unregister-eventlog\n"
    "\n"
    "Runs the program under a debugger and prints each debugger-output message\n"
    "as it arrives, one per line, with the milliseconds since the start:\n"
    "\n"
    "    1012 ms  \"Device Disabled from RestartDevice \\n\"\n"
    "\n"
    "Inside the quotes a line feed shows as \\n, a carriage return as \\r, a tab\n"
    "as \\t, a backslash as \\\\, a quote as \\\" and any other control or non-ASCII\n"
    "byte as \\xNN, so every message keeps its exact bytes on one line.\n"
    "The last line gives the program's exit code, which is also qscapture's.\n"
    "The program never ends with qscapture: on Ctrl+C, Ctrl+Break, a closed\n"
    "console, logoff or the time-out qscapture lets it run on and exits with 4.\n"
    "\n"
    "--log FILE  appends to FILE a header (date, time, computer, the program's\n"
    "            path and file version), every message with its time of day, and\n"
    "            a footer with the exit code and the outcome.\n"
    "--outcome   exits with what the quillset run achieved, read from its\n"
    "            messages, instead of the program's own exit code:\n"
    "               0  values written, controller restarted\n"
    "            3010  values written, the controller restarts at the next reboot\n"
    "               1  settings not applied (no directory, no file, a refused\n"
    "                  file, no ID '2' entry)\n"
    "               2  driver key missing or access denied, nothing written; or a\n"
    "                  value could not be written (the log says which)\n"
    "               3  values written, controller not found or not restarted\n"
    "                  (it was never disabled)\n"
    "               4  still running after the time-out or a stop: it goes on\n"
    "                  (also without --outcome)\n"
    "               5  values written, controller left disabled: enable it in\n"
    "                  Device Manager\n"
    "               6  values written, controller does not run after the\n"
    "                  restart (the log gives its problem code)\n"
    "             127  the program could not be started (also without --outcome)\n"
    "            A wrong command line exits with 2.\n"
    "--eventlog  also writes one event to the Application log, source quillset,\n"
    "            event ID 1000 plus the outcome code, with the outcome, the\n"
    "            program's path and version and every message.\n"
    "--timeout SECONDS  lets the program run on without qscapture after so long.\n"
    "--register-eventlog, --unregister-eventlog  add or remove the event source,\n"
    "            so that Event Viewer shows the events' texts; exit 0, or 2.\n"
    "\n"
    "To watch quillset on a real machine, run from an administrator prompt:\n"
    "    qscapture quillset.exe > quillset-log.txt\n"
    "From a software-deployment tool:\n"
    "    qscapture --log %windir%\\Temp\\quillset.log --eventlog --outcome quillset.exe\n"
    "Programs already being debugged, or started by the program, are not captured.\n";

// Exit code when the program cannot be started at all.
static const int CannotStart = 127;
static const int WrongUsage = 2;
// More would overflow the debugger's millisecond clock.
static const DWORD MaxTimeoutSeconds = 2000000;
// Windows ends a process about 5 s after a closed console or a logoff: time
// enough for the main thread to detach and finish the log.
static const DWORD StopGraceMs = 4000;

static volatile LONG StopRequest;
static volatile LONG StopEvent;

static BOOL WINAPI OnConsoleEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT && type != CTRL_LOGOFF_EVENT &&
        type != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    InterlockedExchange(&StopEvent, static_cast<LONG>(type));
    InterlockedExchange(&StopRequest, 1);
    // The process ends once the main thread is done, or when we return.
    Sleep(StopGraceMs);
    return TRUE;
}

static const char *StopText(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT: return "detached (Ctrl+C)";
    case CTRL_BREAK_EVENT: return "detached (Ctrl+Break)";
    case CTRL_CLOSE_EVENT: return "detached (console closed)";
    case CTRL_LOGOFF_EVENT: return "detached (logoff)";
    default: return "detached (shutdown)";
    }
}

// Skips one argument as the C runtime splits them: whitespace ends it outside
// quotes, and a quote after an odd run of backslashes is a plain character.
static WCHAR *SkipArgument(WCHAR *line)
{
    int quoted = 0, backslashes = 0;
    for (; *line != 0; line++) {
        if (!quoted && (*line == ' ' || *line == '\t'))
            break;
        if (*line == '"' && backslashes % 2 == 0)
            quoted = !quoted;
        backslashes = *line == '\\' ? backslashes + 1 : 0;
    }
    while (*line == ' ' || *line == '\t')
        line++;
    return line;
}

// Our own command line without our program name and our first `skip`
// arguments; the program's arguments untouched.
static WCHAR *ProgramCommandLine(int skip)
{
    WCHAR *line = GetCommandLineW();
    if (*line == '"') {
        line++;
        while (*line != 0 && *line != '"')
            line++;
        if (*line == '"')
            line++;
    } else {
        while (*line != 0 && *line != ' ' && *line != '\t')
            line++;
    }
    while (*line == ' ' || *line == '\t')
        line++;
    for (int i = 0; i < skip; i++)
        line = SkipArgument(line);
    return line;
}

// The file CreateProcess will most likely start, for the log and the event.
static void ProgramPath(const WCHAR *program, WCHAR *path, DWORD size)
{
    WCHAR *file;
    DWORD length = SearchPathW(NULL, program, L".exe", size, path, &file);
    if (length == 0 || length >= size)
        lstrcpynW(path, program, size);
}

// For our own messages on stderr; a character the code page lacks shows as '?'.
static const char *Narrow(const WCHAR *text)
{
    static char narrow[4 * MAX_PATH];
    if (!WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, NULL, NULL))
        lstrcpyA(narrow, "?");
    return narrow;
}

// The run's messages for the event, escaped, one a line, within the size of
// an event string.
static char EventMessages[31000];
static DWORD EventMessagesUsed;
static const char EventMessagesCut[] = "(more messages than an event holds)";

static void KeepForEvent(const char *escaped)
{
    DWORD length = lstrlenA(escaped);
    DWORD room = sizeof EventMessages - sizeof EventMessagesCut - 2;
    if (EventMessagesUsed > room)
        return;
    if (EventMessagesUsed + length + 2 > room) {
        lstrcpyA(EventMessages + EventMessagesUsed, EventMessagesCut);
        EventMessagesUsed = room + 1;
        return;
    }
    if (EventMessagesUsed > 0) {
        lstrcpyA(EventMessages + EventMessagesUsed, "\r\n");
        EventMessagesUsed += 2;
    }
    lstrcpyA(EventMessages + EventMessagesUsed, escaped);
    EventMessagesUsed += length;
}

struct CaptureRun {
    FILE *log; // may be NULL
    int eventWanted;
    OutcomeState outcome;
};

static char EscapedText[0x10000 * 8 + 3];

static void PrintMessage(void *context, DWORD elapsedMs, const char *text, DWORD length)
{
    CaptureRun *run = static_cast<CaptureRun *>(context);
    if (text == NULL)
        lstrcpyA(EscapedText, "(unreadable message)");
    else {
        EscapedText[0] = '"';
        DWORD used = EscapeDebugText(text, length, EscapedText + 1, sizeof EscapedText - 2);
        lstrcpyA(EscapedText + 1 + used, "\"");
    }
    printf("%6lu ms  %s\n", elapsedMs, EscapedText);
    // Each message as it comes, also when stdout is a file.
    fflush(stdout);
    if (run->log != NULL)
        LogCapturedMessage(run->log, EscapedText);
    if (run->eventWanted)
        KeepForEvent(EscapedText);
    NoteOutcomeMessage(&run->outcome, text);
}

static int IsHelp(const WCHAR *argument)
{
    return lstrcmpW(argument, L"/?") == 0 || lstrcmpW(argument, L"-h") == 0 || lstrcmpW(argument, L"--help") == 0;
}

// A whole number of seconds, 1 to MaxTimeoutSeconds.
static int ParseSeconds(const WCHAR *text, DWORD *seconds)
{
    *seconds = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        *seconds = *seconds * 10 + (*text - '0');
        if (*seconds > MaxTimeoutSeconds)
            return 0;
    }
    return *text == 0 && *seconds > 0;
}

static int ChangeEventSource(int registering)
{
    if (registering ? RegisterRunEventSource() : UnregisterRunEventSource())
        return 0;
    fprintf(stderr, "qscapture: cannot %s the event source quillset: error %lu\n",
            registering ? "register" : "unregister", GetLastError());
    return WrongUsage;
}

static void WriteEvent(Outcome outcome, const char *outcomeText, const WCHAR *programPath, const char *version)
{
    if (!ReportRunEvent(outcome, outcomeText, programPath, version, EventMessages))
        fprintf(stderr, "qscapture: cannot write the event to the Application log: error %lu\n", GetLastError());
}

int wmain(int argc, WCHAR **argv)
{
    // Runs elevated: no DLL from beside the exe or the current directory.
    LimitDllSearch();
    if (argc < 2 || IsHelp(argv[1])) {
        fputs(Usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (argc == 2 && lstrcmpW(argv[1], L"--register-eventlog") == 0)
        return ChangeEventSource(1);
    if (argc == 2 && lstrcmpW(argv[1], L"--unregister-eventlog") == 0)
        return ChangeEventSource(0);

    const WCHAR *logPath = NULL;
    int outcomeWanted = 0, eventWanted = 0;
    DWORD timeoutSeconds = 0;
    int first = 1;
    for (; first < argc; first++) {
        if (lstrcmpW(argv[first], L"--log") == 0 && first + 1 < argc)
            logPath = argv[++first];
        else if (lstrcmpW(argv[first], L"--outcome") == 0)
            outcomeWanted = 1;
        else if (lstrcmpW(argv[first], L"--eventlog") == 0)
            eventWanted = 1;
        else if (lstrcmpW(argv[first], L"--timeout") == 0 && first + 1 < argc) {
            if (!ParseSeconds(argv[++first], &timeoutSeconds)) {
                fprintf(stderr, "qscapture: --timeout takes 1 to %lu seconds\n", MaxTimeoutSeconds);
                return WrongUsage;
            }
        } else
            break;
    }
    if (first < argc && IsHelp(argv[first])) {
        fputs(Usage, stdout);
        return 0;
    }
    if (first >= argc || (argv[first][0] == '-' && argv[first][1] == '-')) {
        fputs(Usage, stderr);
        return WrongUsage;
    }

    WCHAR *commandLine = ProgramCommandLine(first - 1);
    static WCHAR programPath[MAX_PATH];
    ProgramPath(argv[first], programPath, MAX_PATH);
    char version[64];
    ReadFileVersion(programPath, version, sizeof version);
    CaptureRun run;
    run.log = NULL;
    run.eventWanted = eventWanted;
    StartOutcome(&run.outcome);
    if (logPath != NULL) {
        run.log = OpenCaptureLog(logPath, programPath, version);
        // Not worth leaving the settings unapplied for.
        if (run.log == NULL)
            fprintf(stderr, "qscapture: cannot open the log %s, going on without it\n", Narrow(logPath));
    }

    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    DebugCaptureHooks hooks = {PrintMessage, NULL, 0, &run, timeoutSeconds * 1000, &StopRequest};
    DWORD exitCode = 0, startMs = MonotonicMs();
    int detached = 0;
    char how[64], outcomeText[256];
    if (!RunUnderDebugger(commandLine, NULL, &hooks, &exitCode, &detached)) {
        DWORD error = GetLastError();
        fprintf(stderr, "qscapture: cannot debug %s: error %lu\n", Narrow(commandLine), error);
        snprintf(how, sizeof how, "cannot start, error %lu", error != 0 ? error : 1);
        DescribeOutcome(&run.outcome, OutcomeCannotStart, 0, outcomeText, sizeof outcomeText);
        if (run.log != NULL)
            CloseCaptureLog(run.log, how, OutcomeCannotStart, outcomeText);
        if (eventWanted)
            WriteEvent(OutcomeCannotStart, outcomeText, programPath, version);
        return CannotStart;
    }
    DWORD lostError = GetLastError();
    Outcome outcome = FinalOutcome(&run.outcome);
    if (detached) {
        outcome = OutcomeStillRunning;
        DWORD seconds = StopRequest || detached == DetachedOnFailure ? (MonotonicMs() - startMs + 500) / 1000
                                                                      : timeoutSeconds;
        if (detached == DetachedOnFailure)
            snprintf(how, sizeof how, "detached (debugging failed, error %lu)", lostError);
        else
            lstrcpyA(how, StopRequest ? StopText(StopEvent) : "detached (timeout)");
        DescribeOutcome(&run.outcome, outcome, seconds, outcomeText, sizeof outcomeText);
        printf("%s: %s\n", how, outcomeText);
    } else {
        snprintf(how, sizeof how, "exit code %lu", exitCode);
        DescribeOutcome(&run.outcome, outcome, 0, outcomeText, sizeof outcomeText);
        printf("%s\n", how);
    }
    fflush(stdout);
    if (run.log != NULL)
        CloseCaptureLog(run.log, how, outcome, outcomeText);
    if (eventWanted)
        WriteEvent(outcome, outcomeText, programPath, version);
    if (detached)
        return OutcomeStillRunning;
    return outcomeWanted ? static_cast<int>(outcome) : static_cast<int>(exitCode);
}
