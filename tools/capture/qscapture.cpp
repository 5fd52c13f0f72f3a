// qscapture: shows what a program writes to the debugger output, one message
// per line with its arrival time, like DebugView but exact about boundaries.
#include <stdio.h>

#include "debug_capture.h"

static const char Usage[] =
    "usage: qscapture <program> [arguments...]\n"
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
    "To watch quillset on a real machine, run from an administrator prompt:\n"
    "    qscapture quillset.exe > quillset-log.txt\n"
    "Programs already being debugged, or started by the program, are not captured.\n";

// Exit code when the program cannot be started at all.
static const int CannotStart = 127;

// Our own command line with our program name cut off, arguments untouched.
static char *ProgramCommandLine(void)
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
    return line;
}

static char EscapedText[0x10000 * 8 + 1];

static void PrintMessage(void *, DWORD elapsedMs, const char *text, DWORD length)
{
    if (text == NULL)
        printf("%6lu ms  (unreadable message)\n", elapsedMs);
    else {
        EscapeDebugText(text, length, EscapedText, sizeof EscapedText);
        printf("%6lu ms  \"%s\"\n", elapsedMs, EscapedText);
    }
    // Each message as it comes, also when stdout is a file.
    fflush(stdout);
}

int main(int argc, char **argv)
{
    // Runs elevated: no DLL from beside the exe or the current directory.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (argc < 2 || lstrcmpA(argv[1], "/?") == 0 || lstrcmpA(argv[1], "-h") == 0 ||
        lstrcmpA(argv[1], "--help") == 0) {
        fputs(Usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }

    char *commandLine = ProgramCommandLine();
    DebugCaptureHooks hooks = {PrintMessage, NULL, 0, NULL};
    DWORD exitCode = 0;
    if (!RunUnderDebugger(commandLine, NULL, &hooks, &exitCode)) {
        fprintf(stderr, "qscapture: cannot debug %s: error %lu\n", commandLine, GetLastError());
        return CannotStart;
    }
    printf("exit code %lu\n", exitCode);
    return static_cast<int>(exitCode);
}
