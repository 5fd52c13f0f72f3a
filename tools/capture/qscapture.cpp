// qscapture: shows what a program writes to the debugger output, one message
// per line with its arrival time, like DebugView but exact about boundaries.
// For deployments it also keeps a log and turns quillset's messages into an
// exit code.
#include <stdio.h>

#include "capture_log.h"
#include "debug_capture.h"
#include "dll_search.h"
#include "outcome.h"

static const char Usage[] =
    "usage: qscapture [--log FILE] [--outcome] <program> [arguments...]\n"
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
    "               2  driver key missing or access denied, nothing written\n"
    "               3  values written, controller not found or not restarted\n"
    "             127  the program could not be started (also without --outcome)\n"
    "            A wrong command line exits with 2.\n"
    "\n"
    "To watch quillset on a real machine, run from an administrator prompt:\n"
    "    qscapture quillset.exe > quillset-log.txt\n"
    "From a software-deployment tool:\n"
    "    qscapture --log %windir%\\Temp\\quillset.log --outcome quillset.exe\n"
    "Programs already being debugged, or started by the program, are not captured.\n";

// Exit code when the program cannot be started at all.
static const int CannotStart = 127;
static const int WrongUsage = 2;

// Skips one argument as the C runtime splits them: whitespace ends it outside
// quotes, and a quote after an odd run of backslashes is a plain character.
static char *SkipArgument(char *line)
{
    int quoted = 0, backslashes = 0;
    for (; *line != '\0'; line++) {
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
static char *ProgramCommandLine(int skip)
{
    char *line = GetCommandLineA();
    if (*line == '"') {
        line++;
        while (*line != '\0' && *line != '"')
            line++;
        if (*line == '"')
            line++;
    } else {
        while (*line != '\0' && *line != ' ' && *line != '\t')
            line++;
    }
    while (*line == ' ' || *line == '\t')
        line++;
    for (int i = 0; i < skip; i++)
        line = SkipArgument(line);
    return line;
}

// The file CreateProcess will most likely start, for the log's header.
static void ProgramPath(const char *program, char *path, DWORD size)
{
    char *file;
    DWORD length = SearchPathA(NULL, program, ".exe", size, path, &file);
    if (length == 0 || length >= size)
        lstrcpynA(path, program, size);
}

struct CaptureRun {
    FILE *log; // may be NULL
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
    NoteOutcomeMessage(&run->outcome, text);
}

static int IsHelp(const char *argument)
{
    return lstrcmpA(argument, "/?") == 0 || lstrcmpA(argument, "-h") == 0 || lstrcmpA(argument, "--help") == 0;
}

int main(int argc, char **argv)
{
    // Runs elevated: no DLL from beside the exe or the current directory.
    LimitDllSearch();
    if (argc < 2 || lstrcmpA(argv[1], "/?") == 0 || lstrcmpA(argv[1], "-h") == 0 ||
        lstrcmpA(argv[1], "--help") == 0) {
        fputs(Usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }

    const char *logPath = NULL;
    int outcomeWanted = 0;
    int first = 1;
    for (; first < argc; first++) {
        if (lstrcmpA(argv[first], "--log") == 0 && first + 1 < argc)
            logPath = argv[++first];
        else if (lstrcmpA(argv[first], "--outcome") == 0)
            outcomeWanted = 1;
        else
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

    char *commandLine = ProgramCommandLine(first - 1);
    CaptureRun run;
    run.log = NULL;
    StartOutcome(&run.outcome);
    if (logPath != NULL) {
        char programPath[MAX_PATH];
        ProgramPath(argv[first], programPath, sizeof programPath);
        run.log = OpenCaptureLog(logPath, programPath);
        // Not worth leaving the settings unapplied for.
        if (run.log == NULL)
            fprintf(stderr, "qscapture: cannot open the log %s, going on without it\n", logPath);
    }

    DebugCaptureHooks hooks = {PrintMessage, NULL, 0, &run};
    DWORD exitCode = 0;
    if (!RunUnderDebugger(commandLine, NULL, &hooks, &exitCode)) {
        DWORD error = GetLastError();
        fprintf(stderr, "qscapture: cannot debug %s: error %lu\n", commandLine, error);
        if (run.log != NULL)
            CloseCaptureLog(run.log, error != 0 ? error : 1, 0, OutcomeCannotStart);
        return CannotStart;
    }
    printf("exit code %lu\n", exitCode);
    Outcome outcome = FinalOutcome(&run.outcome);
    if (run.log != NULL)
        CloseCaptureLog(run.log, 0, exitCode, outcome);
    return outcomeWanted ? static_cast<int>(outcome) : static_cast<int>(exitCode);
}
