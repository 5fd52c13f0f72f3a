// qscapture: shows what a program writes to the debugger output, one message
// per line with its arrival time, like DebugView but exact about boundaries.
// For deployments it also keeps a log, writes an event and turns quillset's
// messages into an exit code.
#include <stdio.h>

#include "capture_log.h"
#include "debug_capture.h"
#include "dll_search.h"
#include "file_version.h"
#include "line_writer.h"
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
    "The last line gives the program's exit code and the outcome (below), as\n"
    "    exit code 0, outcome 3: values written, controller not restarted\n"
    "and qscapture exits with that exit code, or with --outcome the outcome.\n"
    "The program is looked up once, as SearchPath finds it, and started by that\n"
    "full path: the log and the event name the file that ran.\n"
    "The program never ends with qscapture: on Ctrl+C, Ctrl+Break, a closed\n"
    "console, shutdown or the time-out qscapture lets it run on and exits with 4,\n"
    "and the program leaves qscapture's job where the job allows. Output that\n"
    "cannot be written at once never holds the program.\n"
    "\n"
    "--log FILE  appends to FILE a header (date, time, computer, the program's\n"
    "            path and file version), every message with its time of day, and\n"
    "            a footer with the exit code (in hex too, if it is not 0) and the\n"
    "            outcome. A FILE with more than one name (hard links), or that\n"
    "            is a link, is not written, nor one whose folder is a link or is\n"
    "            owned by a user other than the one qscapture runs as (SYSTEM and\n"
    "            Administrators may own it).\n"
    "--outcome   exits with what the quillset run achieved, read from its\n"
    "            messages, instead of the program's own exit code:\n"
    "               0  values written, controller restarted\n"
    "            3010  values written, the controller restarts at the next reboot\n"
    "               1  settings not applied (no directory, no file, a refused\n"
    "                  file, no ID '2' entry)\n"
    "               2  driver key missing or access denied, nothing written; or a\n"
    "                  value could not be written, the key came too late for\n"
    "                  SMEnable, or the run ended between the two writes (the\n"
    "                  log says which)\n"
    "               3  values written, controller not found or not restarted\n"
    "                  (it was never disabled)\n"
    "               4  still running after the time-out or a stop: it goes on\n"
    "                  (also without --outcome)\n"
    "               5  values written, controller left disabled: enable it in\n"
    "                  Device Manager (also a run that ended between the\n"
    "                  disable and the enable, whatever else it wrote)\n"
    "               6  values written, controller does not run after the\n"
    "                  restart (the log gives its problem code)\n"
    "               7  values written, controller disabled before the run, not by\n"
    "                  quillset, and left so: they apply when it is enabled\n"
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
    "    qscapture --log \"%ProgramFiles%\\quillset\\quillset.log\" --eventlog --outcome quillset.exe\n"
    "Programs already being debugged, or started by the program, are not captured.\n";

// Exit code when the program cannot be started at all.
static const int CannotStart = 127;
static const int WrongUsage = 2;
// More would overflow the debugger's millisecond clock.
static const DWORD MaxTimeoutSeconds = 2000000;
// Windows ends a process about 5 s after a closed console: time enough for
// the main thread to detach and finish the log.
static const DWORD StopGraceMs = 4000;

static volatile LONG StopRequest;
static volatile LONG StopEvent;

static BOOL WINAPI OnConsoleEvent(DWORD type)
{
    // Only a service's processes get it, as we do under msiexec, and then for
    // any user's logoff in any session: it is not ours.
    if (type == CTRL_LOGOFF_EVENT)
        return TRUE;
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT && type != CTRL_SHUTDOWN_EVENT)
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

// The program's full path, found once: the log and the event name it, and
// that very file is started, whatever CreateProcessW's own search would find.
static int FindProgram(const WCHAR *program, WCHAR *path, DWORD size)
{
    WCHAR *file;
    DWORD length = SearchPathW(NULL, program, L".exe", size, path, &file);
    if (length != 0 && length < size)
        return 1;
    if (length != 0)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    lstrcpynW(path, program, size);
    return 0;
}

// Once the run starts, every line goes out through these, never through
// stdio: a write that blocks holds only its own thread, and a stream locked
// by a blocked thread could not be flushed at exit either.
static LineWriter Stdout, Stderr, Log;
static char StdoutRing[1 << 20], StderrRing[1 << 16], LogRing[1 << 20];
// One line of any kind, with room for the longest escaped message.
static char Line[0x10000 * 8 + 512];

static void Post(LineWriter *writer, DWORD length)
{
    PostLine(writer, Line, length);
}

// A line of our own for stderr and, when there is a log, for it too.
static void Say(const char *text, int alsoInLog)
{
    Post(&Stderr, snprintf(Line, sizeof Line, "qscapture: %s\r\n", text));
    if (alsoInLog)
        Post(&Log, FormatLogNote(Line, sizeof Line, text));
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
    int eventWanted;
    OutcomeState outcome;
};

static char EscapedText[0x10000 * 8 + 3];

// Called by the debug loop with the program already let go on: only work in
// memory here, the writing is the line writers'.
static void PrintMessage(void *context, DWORD elapsedMs, const SYSTEMTIME *arrived, const char *text, DWORD length)
{
    CaptureRun *run = static_cast<CaptureRun *>(context);
    if (text == NULL)
        lstrcpyA(EscapedText, "(unreadable message)");
    else {
        EscapedText[0] = '"';
        DWORD used = EscapeDebugText(text, length, EscapedText + 1, sizeof EscapedText - 2);
        lstrcpyA(EscapedText + 1 + used, "\"");
    }
    Post(&Stdout, snprintf(Line, sizeof Line, "%6lu ms  %s\r\n", elapsedMs, EscapedText));
    Post(&Log, FormatLogMessage(Line, sizeof Line, arrived, EscapedText));
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
    if (ReportRunEvent(outcome, outcomeText, programPath, version, EventMessages))
        return;
    char text[96];
    snprintf(text, sizeof text, "cannot write the event to the Application log: error %lu", GetLastError());
    Say(text, 0);
}

static void NoteInsideJob(void *)
{
    Say("the job qscapture runs in does not allow breakaway: the program runs inside it, and ending the job ends "
        "the program too",
        1);
}

// Waits for the lines still queued: up to waitMs, or without a limit
// (INFINITE) until a stop request. Then ends the process with code. Lines
// that could not be written by then are given up: the thread that is stuck
// in a write is ended with the process, before any DLL could wait for it.
static int FinishOutput(DWORD waitMs, int code)
{
    LineWriter *writers[] = {&Stdout, &Stderr, &Log};
    DWORD startMs = MonotonicMs();
    for (int i = 0; i < 3; i++)
        while (!FinishLineWriter(writers[i], 100))
            if (waitMs == INFINITE ? StopRequest != 0 : MonotonicMs() - startMs >= waitMs)
                TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    for (int i = 0; i < 3; i++)
        CloseLineWriter(writers[i]);
    return code;
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
    int found = FindProgram(argv[first], programPath, MAX_PATH);
    DWORD findError = GetLastError();
    char version[64];
    ReadFileVersion(programPath, version, sizeof version);
    CaptureRun run;
    run.eventWanted = eventWanted;
    StartOutcome(&run.outcome);
    StartLineWriter(&Stdout, GetStdHandle(STD_OUTPUT_HANDLE), StdoutRing, sizeof StdoutRing);
    StartLineWriter(&Stderr, GetStdHandle(STD_ERROR_HANDLE), StderrRing, sizeof StderrRing);
    HANDLE log = NULL, logFolder = NULL;
    if (logPath != NULL) {
        char refusal[256], text[4 * MAX_PATH + 384];
        log = OpenCaptureLog(logPath, &logFolder, refusal, sizeof refusal);
        DWORD error = GetLastError();
        if (log != NULL && StartLineWriter(&Log, log, LogRing, sizeof LogRing))
            Post(&Log, FormatLogHeader(Line, sizeof Line, programPath, version));
        else {
            // Not worth leaving the settings unapplied for.
            if (log == NULL && refusal[0] != '\0')
                snprintf(text, sizeof text, "the log %s is not written: %s; going on without it", Narrow(logPath),
                         refusal);
            else if (log == NULL)
                snprintf(text, sizeof text, "cannot open the log %s (error %lu), going on without it",
                         Narrow(logPath), error);
            else
                snprintf(text, sizeof text, "cannot write the log %s: no thread to write it (error %lu), going on "
                         "without it", Narrow(logPath), GetLastError());
            Say(text, 0);
        }
    }

    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    DebugCaptureHooks hooks = {PrintMessage, NULL, 0, &run, timeoutSeconds * 1000, &StopRequest, NoteInsideJob};
    DWORD exitCode = 0, startMs = MonotonicMs();
    int detached = 0, code;
    char how[64], outcomeText[256];
    Outcome outcome;
    if (!found || !RunUnderDebugger(programPath, commandLine, NULL, &hooks, &exitCode, &detached)) {
        DWORD error = found ? GetLastError() : findError;
        char text[4 * MAX_PATH + 64];
        snprintf(text, sizeof text, "cannot debug %s: error %lu", Narrow(commandLine), error);
        Say(text, 0);
        snprintf(how, sizeof how, "cannot start, error %lu", error != 0 ? error : 1);
        outcome = OutcomeCannotStart;
        DescribeOutcome(&run.outcome, outcome, 0, outcomeText, sizeof outcomeText);
        code = CannotStart;
    } else if (detached) {
        DWORD lostError = GetLastError();
        outcome = OutcomeStillRunning;
        DWORD seconds = StopRequest || detached == DetachedOnFailure ? (MonotonicMs() - startMs + 500) / 1000
                                                                      : timeoutSeconds;
        if (detached == DetachedOnFailure)
            snprintf(how, sizeof how, "detached (debugging failed, error %lu)", lostError);
        else
            lstrcpyA(how, StopRequest ? StopText(StopEvent) : "detached (timeout)");
        DescribeOutcome(&run.outcome, outcome, seconds, outcomeText, sizeof outcomeText);
        Post(&Stdout, snprintf(Line, sizeof Line, "%s: %s\r\n", how, outcomeText));
        code = OutcomeStillRunning;
    } else {
        outcome = FinalOutcome(&run.outcome);
        // quillset ends by itself with 0: any other code is a crash or a kill.
        if (exitCode == 0)
            lstrcpyA(how, "exit code 0");
        else
            snprintf(how, sizeof how, "exit code %lu (0x%08lX)", exitCode, exitCode);
        DescribeOutcome(&run.outcome, outcome, 0, outcomeText, sizeof outcomeText);
        Post(&Stdout, snprintf(Line, sizeof Line, "%s, outcome %d: %s\r\n", how, static_cast<int>(outcome),
                               outcomeText));
        code = outcomeWanted ? static_cast<int>(outcome) : static_cast<int>(exitCode);
    }
    Post(&Log, FormatLogFooter(Line, sizeof Line, how, outcome, outcomeText));
    // Not held up by output that is stuck.
    if (eventWanted) {
        char eventText[sizeof outcomeText + sizeof how + 2];
        snprintf(eventText, sizeof eventText, exitCode != 0 ? "%s; %s" : "%s", outcomeText, how);
        WriteEvent(outcome, eventText, programPath, version);
    }

    // The program is let go or gone: after a detach the caller waits for us,
    // and otherwise a time-out still bounds the whole run.
    DWORD waitMs = INFINITE;
    if (detached)
        waitMs = FooterGraceMs;
    else if (timeoutSeconds != 0) {
        DWORD usedMs = MonotonicMs() - startMs;
        waitMs = usedMs + FooterGraceMs < timeoutSeconds * 1000 ? timeoutSeconds * 1000 - usedMs : FooterGraceMs;
    }
    code = FinishOutput(waitMs, code);
    // The folder only after the log, which it keeps in its place.
    if (log != NULL) {
        CloseHandle(log);
        CloseHandle(logFolder);
    }
    return code;
}
