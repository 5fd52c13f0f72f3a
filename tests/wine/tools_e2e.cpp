// Runs the administrator's tools against a built world: qscheck on a settings
// file, qscapture --outcome --log around quillset.exe, and qscapture's event
// source registration.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "capture_log.h"
#include "debug_capture.h"
#include "e2e.h"

#include <tlhelp32.h>

static const DWORD HungAfterMs = 60000;
static const DWORD KilledExitCode = 9;
// A case interrupts qscapture half a second after quillset's first key wait
// shows in the log: the next one is a second away.
static const char FirstWait[] = "wait 1s.";
static const DWORD InterruptAfterWaitMs = 500;
static const DWORD PollMs = 20;

enum Interruption { NoInterruption, Killed, CtrlC, JobEnded };

// Waits for the running processes of that image, or only for those that
// parent started (0: any).
static void WaitForProcesses(const char *image, DWORD parent)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, image) != 0 || (parent != 0 && entry.th32ParentProcessID != parent))
            continue;
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process != NULL) {
            WaitForSingleObject(process, HungAfterMs);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

// Ctrl+C in qscapture's console comes from a helper, this program again: to
// attach to that console a process must leave its own, and ours must stay,
// or every later tool would get a console host of its own; nor may anything
// of ours stay in qscapture's, whose host then outlives the case. Started
// with qscapture, so that no start-up delays the press, the helper presses
// once the event is set.
static void CtrlCEventName(DWORD process, WCHAR *name, int size)
{
    _snwprintf(name, size, L"qse2e-ctrl-c-%lu", process);
    name[size - 1] = 0;
}

int PressCtrlC(DWORD process)
{
    WCHAR name[64];
    CtrlCEventName(process, name, 64);
    HANDLE press = OpenEventW(SYNCHRONIZE, FALSE, name);
    int ok = press != NULL && WaitForSingleObject(press, HungAfterMs) == WAIT_OBJECT_0 && AttachConsole(process) &&
             SetConsoleCtrlHandler(NULL, TRUE) && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    if (press != NULL)
        CloseHandle(press);
    return ok ? 0 : 1;
}

// Returns the helper, waiting for *press, or NULL.
static HANDLE StartCtrlC(DWORD process, HANDLE *press)
{
    WCHAR name[64], self[MAX_PATH], commandLine[MAX_PATH + 32];
    CtrlCEventName(process, name, 64);
    *press = CreateEventW(NULL, TRUE, FALSE, name);
    GetModuleFileNameW(NULL, self, MAX_PATH);
    _snwprintf(commandLine, MAX_PATH + 32, L"\"%ls\" --ctrl-c %lu", self, process);
    commandLine[MAX_PATH + 31] = 0;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (*press == NULL ||
        !CreateProcessW(self, commandLine, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup, &info))
        return NULL;
    CloseHandle(info.hThread);
    return info.hProcess;
}

// qscapture's stdout as a pipe that takes nothing for a while: once the
// disable shows there, or from the start, it is filled with more than it
// holds and read again StallMs later, or never.
static const DWORD StallMs = 4000;

struct Stall {
    HANDLE read, write, thread;
};

static DWORD WINAPI Fill(void *context)
{
    static char filler[1 << 20];
    DWORD written;
    WriteFile(static_cast<Stall *>(context)->write, filler, sizeof filler, &written, NULL);
    return 0;
}

static DWORD WINAPI Drain(void *context)
{
    static char seen[64 * 1024];
    DWORD used = 0, read;
    HANDLE filler = NULL;
    while (ReadFile(static_cast<Stall *>(context)->read, seen + used, sizeof seen - 1 - used, &read, NULL) &&
           read > 0 && filler == NULL) {
        seen[used += read] = '\0';
        if (strstr(seen, "Device Disabled from RestartDevice") != NULL)
            filler = CreateThread(NULL, 0, Fill, context, 0, NULL), Sleep(StallMs);
    }
    while (ReadFile(static_cast<Stall *>(context)->read, seen, sizeof seen, &read, NULL) && read > 0)
        continue;
    if (filler != NULL)
        WaitForSingleObject(filler, HungAfterMs), CloseHandle(filler);
    return 0;
}

static int LogHoldsFirstWait(const WCHAR *log)
{
    static char text[16 * 1024];
    HANDLE file = CreateFileW(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int ok = ReadFile(file, text, sizeof text - 1, &read, NULL);
    CloseHandle(file);
    text[ok ? read : 0] = '\0';
    return strstr(text, FirstWait) != NULL;
}

// Starts commandLine with stdout and stderr going to outputPath and waits for
// it; or, once quillset waits for the key in log, ends it or its job as a
// deployment tool's time-out would, or presses Ctrl+C in its console. The
// harness may give stdout a stalling pipe, or a job.
static int RunTool(WCHAR *commandLine, const WCHAR *outputPath, DWORD *exitCode,
                   Interruption interruption = NoInterruption, const WCHAR *log = NULL, int harness = 0)
{
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    HANDLE output = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (output == INVALID_HANDLE_VALUE)
        return 0;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = output;
    Stall stall = {NULL, NULL, NULL};
    if (harness >= ToolCase::StdoutStalled && harness <= ToolCase::StdoutNeverRead &&
        CreatePipe(&stall.read, &stall.write, &inherited, 0)) {
        SetHandleInformation(stall.read, HANDLE_FLAG_INHERIT, 0);
        stall.thread = CreateThread(NULL, 0, harness == ToolCase::StdoutStalled ? Drain : Fill, &stall, 0, NULL);
        startup.hStdOutput = stall.write;
    }
    // A job that allows breakaway, or not; a failure to use it fails the case.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = harness == ToolCase::JobEnded ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0;
    int inJob = harness == ToolCase::JobEnded || harness == ToolCase::NoBreakaway;
    HANDLE job = inJob ? CreateJobObjectW(NULL, NULL) : NULL;
    if (job != NULL)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    DWORD flags = (interruption == CtrlC ? CREATE_NEW_CONSOLE : 0) | (job != NULL ? CREATE_SUSPENDED : 0);
    PROCESS_INFORMATION info;
    int ok = CreateProcessW(NULL, commandLine, NULL, NULL, TRUE, flags, NULL, NULL, &startup, &info);
    CloseHandle(output);
    if (ok && job != NULL)
        AssignProcessToJobObject(job, info.hProcess), ResumeThread(info.hThread);
    HANDLE press = NULL, helper = ok && interruption == CtrlC ? StartCtrlC(info.dwProcessId, &press) : NULL;
    DWORD waitedMs = 0;
    while (ok && interruption != NoInterruption && !LogHoldsFirstWait(log) && waitedMs < HungAfterMs)
        Sleep(PollMs), waitedMs += PollMs;
    if (ok && interruption != NoInterruption &&
        WaitForSingleObject(info.hProcess, InterruptAfterWaitMs) == WAIT_TIMEOUT) {
        if (interruption == Killed)
            TerminateProcess(info.hProcess, KilledExitCode);
        else if (interruption == JobEnded)
            TerminateJobObject(job, KilledExitCode);
        else if (helper != NULL)
            SetEvent(press), WaitForSingleObject(helper, HungAfterMs);
    }
    int ended = ok && WaitForSingleObject(info.hProcess, HungAfterMs) == WAIT_OBJECT_0 &&
                GetExitCodeProcess(info.hProcess, exitCode);
    if (ok && !ended)
        TerminateProcess(info.hProcess, 1);
    // Wine's host of qscapture's new console, qscapture's child, inherited
    // every inheritable handle it has, our output among them, and ends with
    // the last process in that console: qscapture, as nothing else stays.
    if (ended && interruption == CtrlC)
        WaitForProcesses("conhost.exe", info.dwProcessId);
    // Still running, the helper was never told or is hung.
    if (helper != NULL)
        TerminateProcess(helper, 1), CloseHandle(helper);
    if (press != NULL)
        CloseHandle(press);
    if (ok)
        CloseHandle(info.hThread), CloseHandle(info.hProcess);
    if (job != NULL)
        CloseHandle(job);
    // Closing the pipe's end that no thread waits on ends the other's wait.
    if (stall.write != NULL) {
        CloseHandle(harness == ToolCase::StdoutStalled ? stall.write : stall.read);
        if (stall.thread != NULL && WaitForSingleObject(stall.thread, HungAfterMs) == WAIT_OBJECT_0)
            CloseHandle(stall.thread);
        CloseHandle(harness == ToolCase::StdoutStalled ? stall.read : stall.write);
    }
    return ended;
}

static char Text[256 * 1024];

// No handle writes to path: a share mode without writing fails otherwise.
static int FileIsFree(const WCHAR *path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    return 1;
}

static int ReadText(const WCHAR *path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD read = 0;
    int ok = file != INVALID_HANDLE_VALUE && ReadFile(file, Text, sizeof Text - 1, &read, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    Text[ok ? read : 0] = '\0';
    return ok;
}

// The next line of Text from *cursor, without its CR LF; 0 at the end.
static int NextLine(const char **cursor, char *line, DWORD size)
{
    if (**cursor == '\0')
        return 0;
    const char *end = *cursor;
    while (*end != '\0' && *end != '\n')
        end++;
    DWORD length = static_cast<DWORD>(end - *cursor);
    if (length > 0 && end[-1] == '\r')
        length--;
    lstrcpynA(line, *cursor, length + 1 < size ? length + 1 : size);
    *cursor = *end == '\n' ? end + 1 : end;
    return 1;
}

// Wine's trace of a ReportEventW call as the table writes it: the fixme line
// as "type 0x0001, ID 0x000003ea", a string as its L"..." literal.
static int EventTrace(const char *line, char *out, DWORD size)
{
    const char *call = strstr(line, "fixme:advapi:ReportEventW (");
    unsigned type, id;
    if (call != NULL && sscanf(call, "fixme:advapi:ReportEventW (%*[^,],0x%x,0x%*x,0x%x", &type, &id) == 2) {
        snprintf(out, size, "type 0x%04x, ID 0x%08x", type, id);
        return 1;
    }
    const char *text = strstr(line, ":eventlog:ReportEventW ");
    if (text == NULL)
        return 0;
    lstrcpynA(out, text + lstrlenA(":eventlog:ReportEventW "), size);
    return 1;
}

// The table's lines in this order; for Capture among Wine's event traces.
static int CheckOutputLines(const ToolCase *t)
{
    const char *cursor = Text;
    char line[2048], seen[2048];
    for (int i = 0; i < 8 && t->lines[i] != NULL; i++) {
        int found = 0;
        while (!found && NextLine(&cursor, line, sizeof line))
            if (t->tool == Check)
                found = lstrcmpA(line, t->lines[i]) == 0;
            else
                found = EventTrace(line, seen, sizeof seen) && lstrcmpA(seen, t->lines[i]) == 0;
        if (!found) {
            printf("  no line \"%s\" (in this order)\n", t->lines[i]);
            return 0;
        }
    }
    return 1;
}

// The messages of the log, one a line, as the event's last string must hold them.
static char LoggedMessages[64 * 1024];

// The event's last string holds the log's messages; Wine's trace shows its start.
static int CheckEventMessages(void)
{
    // Wine's debugstr_w escaping of the string it traces.
    char expected[sizeof LoggedMessages * 2 + 4] = "L\"";
    DWORD used = 2;
    static const char special[] = "\r\n\"\\", shown[] = "rn\"\\";
    for (const char *c = LoggedMessages; *c != '\0' && used < sizeof expected - 3; c++) {
        const char *escaped = strchr(special, *c);
        if (escaped != NULL)
            expected[used++] = '\\';
        expected[used++] = escaped == NULL ? *c : shown[escaped - special];
    }
    lstrcpyA(expected + used, "\"");
    // Wine 8 traces the string on one line; Wine 10 on one line per line
    // feed in it, each quoted again. Either way it is the last string.
    static char joined[sizeof LoggedMessages * 2 + 4];
    DWORD length = 0;
    const char *cursor = Text;
    char line[2048], trace[2048];
    int strings = 0;
    while (NextLine(&cursor, line, sizeof line))
        if (EventTrace(line, trace, sizeof trace) && trace[0] == 'L' && ++strings >= 5) {
            const char *piece = strings == 5 ? trace : trace + 2;
            if (strings > 5 && length > 0 && joined[length - 1] == '"')
                length--;
            DWORD pieceLength = lstrlenA(piece);
            if (length + pieceLength >= sizeof joined)
                break;
            memcpy(joined + length, piece, pieceLength + 1);
            length += pieceLength;
        }
    if (strings < 5) {
        printf("  no trace of the event's messages\n");
        return 0;
    }
    // A long string ends in "..." after Wine's closing quote, and is cut there.
    if (length > 4 && lstrcmpA(joined + length - 4, "\"...") == 0)
        length -= 4;
    if (length > 2 && strncmp(joined, expected, length) == 0)
        return 1;
    printf("  the event's messages are %s,\n  expected %s\n", joined, expected);
    return 0;
}

// "==== YYYY-MM-DD HH:MM:SS " before what the line says.
static const int StampLength = 25;
// "HH:MM:SS.mmm  " before a message.
static const int TimeLength = 14;

static const char *const WineChange[] = {"\"Found it! \\n\"", "\"SetClassInstallParams Failed!!\"",
                                         "\"CallClassInstaller(REMOVE) failed\\n\"", NULL};
static const char *const WindowsChange[] = {"\"Found it! \\n\"", "\"Changed State on Device ID \\n\"", NULL};
static const char *const Wow64Notice[] = {
    "\"quillset is 32-bit on 64-bit Windows and cannot restart the controller: use the 64-bit build \\n\"", NULL};

// A directory trace as the log shows it.
static void LoggedTrace(char *out, DWORD size, const char *label, const char *directory, const char *tail)
{
    DWORD used = snprintf(out, size, "\"%s", label);
    for (; *directory != '\0' && used + 2 < size; directory++) {
        if (*directory == '\\')
            out[used++] = '\\';
        out[used++] = *directory;
    }
    snprintf(out + used, size - used, "%s  \\n\"", tail);
}

// The log lines a capture case expects, its markers expanded; returns their count.
static int ExpectedLogLines(const Case *c, const char **lines, int maxLines)
{
    static char traces[4][2 * MAX_PATH + 64];
    char current[MAX_PATH], windows[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    GetWindowsDirectoryA(windows, MAX_PATH);
    LoggedTrace(traces[0], sizeof traces[0], "CurrentDirectory: ", current, "");
    LoggedTrace(traces[1], sizeof traces[1], "WindowsDirectory is: ", windows, "");
    LoggedTrace(traces[2], sizeof traces[2], "The FullPath is: ", windows, "\\\\kvinst");
    LoggedTrace(traces[3], sizeof traces[3], "Current Directory set to ", windows, "\\\\kvinst");
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);

    int count = 0;
    for (int i = 0; i < MaxExpected && c->expected[i] != NULL; i++) {
        const char *item = c->expected[i];
        const char *const *expansion = NULL;
        const char *single[] = {item, NULL};
        if (item == DIRS || item == CD_SET) {
            for (int k = item == DIRS ? 0 : 3; k < (item == DIRS ? 3 : 4) && count < maxLines; k++)
                lines[count++] = traces[k];
            continue;
        }
        if (item == CHANGE)
            expansion = RunningOnWine() ? WineChange : WindowsChange;
        else if (item == WOW64)
            expansion = wow64 ? Wow64Notice : single + 1;
        else
            expansion = single;
        for (int k = 0; expansion[k] != NULL && count < maxLines; k++)
            lines[count++] = expansion[k];
    }
    return count;
}

// A footer of a run that ended by itself, however it ended, or of one that
// qscapture let go on (or was ended with).
static int LeftRunning(const ToolCase *t)
{
    return t->footer != NULL && strncmp(t->footer, "exit code ", 10) != 0;
}

// The words of the last footer CheckLog accepted.
static char LoggedFooter[512];

// first: a line the log holds before the case's own.
static int CheckLog(const ToolCase *t, const char *program, DWORD exitCode, const char *first = NULL)
{
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof computer;
    GetComputerNameA(computer, &size);
    char header[MAX_PATH + 128], footer[256];
    snprintf(header, sizeof header, "%s start %s, file version %s", computer, program,
             t->run.name[0] != '\0' ? "unknown" : QUILLSET_VERSION ".0");
    if (t->footer != NULL)
        snprintf(footer, sizeof footer, "%s %s", computer, t->footer);
    else
        snprintf(footer, sizeof footer, "%s exit code 0, outcome %lu: ", computer, exitCode);

    const char *cursor = Text;
    char line[2048];
    if (!NextLine(&cursor, line, sizeof line) || lstrcmpA(line, "earlier run") != 0) {
        printf("  the log lost what it held before\n");
        return 0;
    }
    if (!NextLine(&cursor, line, sizeof line) || strncmp(line, "==== ", 5) != 0 ||
        lstrcmpA(line + StampLength, header) != 0) {
        printf("  header \"%s\", expected \"==== <date> <time> %s\"\n", line, header);
        return 0;
    }
    static const char *expected[MaxExpected * 3 + 1];
    int count = first != NULL;
    expected[0] = first;
    count += ExpectedLogLines(&t->run, expected + count, MaxExpected * 3);
    LoggedMessages[0] = '\0';
    for (int i = 0; i < count; i++) {
        if (!NextLine(&cursor, line, sizeof line) || lstrlenA(line) < TimeLength || line[2] != ':' ||
            lstrcmpA(line + TimeLength, expected[i]) != 0) {
            printf("  log message %d is \"%s\", expected <time>  %s\n", i, line, expected[i]);
            return 0;
        }
        if (i > 0)
            lstrcatA(LoggedMessages, "\r\n");
        lstrcatA(LoggedMessages, expected[i]);
    }
    // A loaded machine may let the second key wait in before a detach a
    // second after the start; it is the last expected message again.
    const char *before = cursor;
    if (t->footer != NULL && count > 0 && NextLine(&cursor, line, sizeof line) && lstrlenA(line) > TimeLength &&
        lstrcmpA(line + TimeLength, expected[count - 1]) == 0)
        before = cursor;
    cursor = before;
    int exact = t->footer != NULL;
    if (exact && t->footer[0] == '\0') {
        if (!NextLine(&cursor, line, sizeof line))
            return 1;
        printf("  \"%s\" after the messages of a qscapture that was ended\n", line);
        return 0;
    }
    if (!NextLine(&cursor, line, sizeof line) || strncmp(line, "==== ", 5) != 0 ||
        (exact ? lstrcmpA(line + StampLength, footer) : strncmp(line + StampLength, footer, lstrlenA(footer))) != 0 ||
        NextLine(&cursor, line, sizeof line)) {
        printf("  footer \"%s\", expected \"==== <date> <time> %s%s\" to end the log\n", line, footer,
               exact ? "" : "...");
        return 0;
    }
    lstrcpynA(LoggedFooter, line + StampLength + lstrlenA(computer) + 1, sizeof LoggedFooter);
    return 1;
}

// Standard output, in Text, ends with the footer's words.
static int StdoutEndsAsTheLog(void)
{
    const char *cursor = Text;
    char line[2048] = "", last[2048] = "";
    while (NextLine(&cursor, line, sizeof line))
        lstrcpyA(last, line);
    if (lstrcmpA(last, LoggedFooter) == 0)
        return 1;
    printf("  the last line of stdout is \"%s\", expected \"%s\"\n", last, LoggedFooter);
    return 0;
}

// Wine writes a child's traces to the stderr it started us with, which
// wine-suite.sh names in QUILLSET_WINE_OUTPUT; from is where the run's start.
static int ReadWineTraces(DWORD from, DWORD *end)
{
    char path[MAX_PATH];
    if (!GetEnvironmentVariableA("QUILLSET_WINE_OUTPUT", path, MAX_PATH))
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    *end = GetFileSize(file, NULL);
    DWORD read = 0;
    int ok = SetFilePointer(file, from, NULL, FILE_BEGIN) == from && ReadFile(file, Text, sizeof Text - 1, &read, NULL);
    CloseHandle(file);
    Text[ok ? read : 0] = '\0';
    return ok;
}

static int WriteEarlierRun(const WCHAR *path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    int ok = file != INVALID_HANDLE_VALUE && WriteFile(file, "earlier run\r\n", 13, &written, NULL) && written == 13;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

static int RunWriteCase(const ToolCase *t, const char *qscheck);

// qscheck --verify: its output, stdout and stderr together, is the one line
// alone; and the driver's values are as they were.
static int CheckVerdict(const ToolCase *t, const char *settings, DWORD smEnable, DWORD sdSwitch)
{
    char expected[2 * MAX_PATH + 512];
    snprintf(expected, sizeof expected, t->lines[0], settings);
    lstrcatA(expected, "\r\n");
    int ok = !(RunningOnWine() || t->run.devices[0] == NULL) || lstrcmpA(Text, expected) == 0;
    if (!ok)
        printf("  expected the output %s", expected);
    if (smEnable != t->run.smEnable || sdSwitch != t->run.sdSwitch)
        printf("  SMEnable 0x%lx, SDSwitch 0x%lx after the check\n", smEnable, sdSwitch), ok = 0;
    return ok;
}

static const char SourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\quillset";

// The source's key as --register-eventlog leaves it, or its absence.
static int CheckEventSource(int registered, const char *qscapture)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SourceKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        if (registered)
            printf("  no HKLM\\%s\n", SourceKey);
        return !registered;
    }
    char file[MAX_PATH] = "", expected[MAX_PATH];
    DWORD fileType = 0, fileSize = sizeof file, typesType = 0, types = 0, typesSize = sizeof types;
    RegQueryValueExA(key, "EventMessageFile", NULL, &fileType, reinterpret_cast<BYTE *>(file), &fileSize);
    RegQueryValueExA(key, "TypesSupported", NULL, &typesType, reinterpret_cast<BYTE *>(&types), &typesSize);
    RegCloseKey(key);
    GetFullPathNameA(qscapture, MAX_PATH, expected, NULL);
    if (registered && fileType == REG_EXPAND_SZ && lstrcmpiA(file, expected) == 0 && typesType == REG_DWORD &&
        types == 7)
        return 1;
    printf("  HKLM\\%s: EventMessageFile %s (type %lu), TypesSupported %lu (type %lu)\n", SourceKey, file, fileType,
           types, typesType);
    return 0;
}

// Our arguments come in the ANSI code page, the table's texts in UTF-8.
static int Widen(UINT codePage, const char *text, WCHAR *out, int size)
{
    if (MultiByteToWideChar(codePage, 0, text, -1, out, size) > 0)
        return 1;
    out[0] = 0;
    return 0;
}

static int RunRegisterCase(const ToolCase *t, const char *qscapture, const WCHAR *outputPath)
{
    WCHAR commandLine[2 * MAX_PATH];
    DWORD exitCode = 0;
    int ok = 1;
    for (int registering = 1; registering >= 0 && ok; registering--) {
        commandLine[0] = '"';
        Widen(CP_ACP, qscapture, commandLine + 1, MAX_PATH);
        lstrcatW(commandLine, registering ? L"\" --register-eventlog" : L"\" --unregister-eventlog");
        if (!RunTool(commandLine, outputPath, &exitCode) || exitCode != 0) {
            printf("  %s exits with %lu (error %lu)\n", registering ? "--register-eventlog" : "--unregister-eventlog",
                   exitCode, GetLastError());
            ok = 0;
        } else
            ok = CheckEventSource(registering, qscapture);
    }
    DeleteFileW(outputPath);
    printf("%s %s\n", ok ? "ok" : "FAIL", t->name);
    return ok;
}

// The log's folder is named in Cyrillic ("журнал"), outside any ANSI code page
// of a western Windows.
static const WCHAR LogFolder[] = L"qse2e-\x0436\x0443\x0440\x043d\x0430\x043b";
// What qscapture's trace of the event needs from Wine, and quillset's own
// time of each message.
static const char EventTraces[] = "+eventlog,+timestamp,+debugstr";
// qscapture leaves quillset after its time-out of 1 s, and exits at once;
// a second more for each second more of time-out.
static const DWORD DetachedWithinMs = 2500;
// From quillset's disable to its enable pass finding the controller again:
// its one-second pause, not qscapture's stalled stdout (that held it 4 s).
static const DWORD GapFloorMs = 950, GapLimitMs = 1500;

// That gap by quillset's own clock: Wine's +timestamp trace of its
// OutputDebugStringA calls, made before any debugger sees a message. The
// first "Found it!" after the disable is the enable pass's.
static int CheckQuillsetGap(void)
{
    const char *cursor = Text, *wanted[] = {"Device Disabled from", "Found it!"};
    char line[2048];
    unsigned long seconds, millis, ms[2] = {0, 0}, found = 0;
    while (found < 2 && NextLine(&cursor, line, sizeof line))
        if (strstr(line, ":debugstr:OutputDebugStringA ") != NULL && strstr(line, wanted[found]) != NULL &&
            sscanf(line, "%lu.%lu:", &seconds, &millis) == 2)
            ms[found++] = seconds * 1000 + millis;
    if (found == 2 && ms[1] - ms[0] >= GapFloorMs && ms[1] - ms[0] < GapLimitMs)
        return 1;
    printf("  quillset's enable pass found the controller %lu ms after its disable (%lu of 2 traced)\n", ms[1] - ms[0],
           found);
    return 0;
}

// The second of two runs; its log and output are the first's with a "2".
static const DWORD SecondRunAfterMs = 150;
static const char LoggedLockWait[] = "\"Another quillset is running: waiting for it to end \\n\"";
static char SecondLog[sizeof Text];

struct SecondRun {
    WCHAR commandLine[6 * MAX_PATH], outputPath[MAX_PATH];
    DWORD exitCode;
    int ok;
};

static DWORD WINAPI RunSecond(void *context)
{
    SecondRun *run = static_cast<SecondRun *>(context);
    Sleep(SecondRunAfterMs);
    run->ok = RunTool(run->commandLine, run->outputPath, &run->exitCode);
    return 0;
}

// The time of day in ms of the log's last message, or of the one after the
// message `after`; -1 without one.
static long MessageTimeMs(const char *after)
{
    const char *cursor = Text;
    char line[2048];
    long found = -1;
    int seen = after == NULL;
    unsigned h, m, s, ms;
    while (NextLine(&cursor, line, sizeof line)) {
        if (lstrlenA(line) <= TimeLength || sscanf(line, "%2u:%2u:%2u.%3u", &h, &m, &s, &ms) != 4)
            continue;
        if (seen) {
            found = ((h * 60 + m) * 60 + s) * 1000 + ms;
            if (after != NULL)
                return found;
        }
        seen = seen || lstrcmpA(line + TimeLength, after) == 0;
    }
    return found;
}

// The second run's log, and whether the run that waited started its work
// only after the other one's end; the first run's log in Text. The second
// run is started 150 ms later, but a loaded machine may start it first.
static int CheckSecondRun(const ToolCase *t, const char *quillset, DWORD exitCode, const SecondRun *second,
                          int secondWaited)
{
    long firstEnd = MessageTimeMs(NULL), firstGoesOn = MessageTimeMs(LoggedLockWait);
    lstrcpyA(Text, SecondLog);
    int ok = CheckLog(t, quillset, exitCode, secondWaited ? LoggedLockWait : NULL);
    long goesOn = secondWaited ? MessageTimeMs(LoggedLockWait) : firstGoesOn;
    long otherEnd = secondWaited ? firstEnd : MessageTimeMs(NULL);
    // Across midnight.
    if (goesOn >= 0 && goesOn + 43200000 < otherEnd)
        goesOn += 86400000;
    if (second->exitCode != exitCode)
        printf("  the second run's exit code %lu, expected %lu\n", second->exitCode, exitCode), ok = 0;
    if (!secondWaited)
        printf("  the run started first waited for the other\n");
    if (goesOn < otherEnd)
        printf("  the run that waited went on at %ld ms of the day, the other ended at %ld\n", goesOn, otherEnd),
            ok = 0;
    return ok;
}

int RunToolCase(const ToolCase *t, const char *quillset, const char *qscheck, const char *qscapture,
                const char *qsstandin)
{
    if (t->arguments != NULL)
        return RunWriteCase(t, qscheck);
    WCHAR temp[MAX_PATH], outputPath[MAX_PATH], logFolder[MAX_PATH], logPath[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    lstrcpyW(outputPath, temp);
    lstrcatW(outputPath, L"qse2e-tool.out");
    if (t->tool == Register)
        return RunRegisterCase(t, qscapture, outputPath);
    lstrcpyW(logFolder, temp);
    lstrcatW(logFolder, LogFolder);
    lstrcpyW(logPath, logFolder);
    lstrcatW(logPath, L"\\qse2e-tool.log");
    static SecondRun second;
    WCHAR secondLog[MAX_PATH];
    lstrcpyW(secondLog, logFolder);
    lstrcatW(secondLog, L"\\qse2e-tool2.log");
    lstrcpyW(second.outputPath, outputPath);
    lstrcatW(second.outputPath, L"2");
    const char *program = t->run.name[0] != '\0' ? qsstandin : quillset;
    int capture = t->tool == Capture || t->tool == TwoRuns;
    char settings[MAX_PATH], line[4 * MAX_PATH];
    GetWindowsDirectoryA(settings, MAX_PATH);
    lstrcatA(settings, "\\kvinst\\kvconfig.txt");
    WCHAR commandLine[6 * MAX_PATH];
    if (t->tool == Check || t->tool == Verify) {
        snprintf(line, sizeof line, t->defaultFile ? "\"%s\"%s" : "\"%s\"%s \"%s\"", qscheck,
                 t->tool == Verify ? " --verify" : "", settings);
        Widen(CP_ACP, line, commandLine, 6 * MAX_PATH);
    } else {
        snprintf(line, sizeof line, "\"%s\" %s --log \"", qscapture, t->options);
        Widen(CP_ACP, line, commandLine, 6 * MAX_PATH);
        lstrcpyW(second.commandLine, commandLine);
        lstrcatW(second.commandLine, secondLog);
        lstrcatW(commandLine, logPath);
        snprintf(line, sizeof line, "\" --outcome \"%s\"%s%s", program, t->run.name[0] ? " " : "", t->run.name);
        Widen(CP_ACP, line, commandLine + lstrlenW(commandLine), 2 * MAX_PATH);
        Widen(CP_ACP, line, second.commandLine + lstrlenW(second.commandLine), 2 * MAX_PATH);
    }

    char why[256] = "";
    if (!WorldIsClean(why, sizeof why)) {
        printf("FAIL %s: the world is not clean before the case: %s\n", t->name, why);
        return 0;
    }
    World world;
    int ok = BuildWorld(&t->run, &world, why, sizeof why);
    if (ok && capture &&
        (!CreateDirectoryW(logFolder, NULL) || !WriteEarlierRun(logPath) || !WriteEarlierRun(secondLog)))
        ok = 0, lstrcpyA(why, "cannot write the log");
    WCHAR otherName[MAX_PATH];
    lstrcpyW(otherName, logFolder);
    lstrcatW(otherName, L"\\other-file.txt");
    if (ok && t->harness == ToolCase::LogHardLink && !CreateHardLinkW(otherName, logPath, NULL))
        ok = 0, lstrcpyA(why, "cannot give the log a second name");
    char debug[64] = "";
    GetEnvironmentVariableA("WINEDEBUG", debug, sizeof debug);
    if (capture)
        SetEnvironmentVariableA("WINEDEBUG", EventTraces);
    DWORD traceStart = 0;
    if (capture && RunningOnWine())
        ReadWineTraces(0, &traceStart);
    DWORD exitCode = 0, startMs = MonotonicMs(), toolMs = 0;
    Interruption interruption = NoInterruption;
    if (t->harness == ToolCase::JobEnded)
        interruption = JobEnded;
    else if (t->footer != NULL && t->footer[0] == '\0')
        interruption = Killed;
    else if (t->footer != NULL && strncmp(t->footer, "detached (Ctrl+C)", 17) == 0)
        interruption = CtrlC;
    if (ok && t->harness == ToolCase::AfterQuillset) {
        WCHAR run[MAX_PATH + 2] = L"\"";
        Widen(CP_ACP, quillset, run + 1, MAX_PATH);
        lstrcatW(run, L"\"");
        if (!RunTool(run, outputPath, &exitCode))
            ok = 0, lstrcpyA(why, "cannot run quillset first");
    }
    second.ok = 0;
    HANDLE secondThread = ok && t->tool == TwoRuns ? CreateThread(NULL, 0, RunSecond, &second, 0, NULL) : NULL;
    if (ok && !RunTool(commandLine, outputPath, &exitCode, interruption, logPath, t->harness))
        snprintf(why, sizeof why, "cannot run %s (error %lu)", line, GetLastError()), ok = 0;
    toolMs = MonotonicMs() - startMs;
    // quillset, left waiting for the key, holds nothing of qscapture's: a
    // deployment tool reads qscapture's output until it closes.
    int outputHeld = ok && LeftRunning(t) && !FileIsFree(outputPath);
    if (secondThread != NULL) {
        WaitForSingleObject(secondThread, INFINITE);
        CloseHandle(secondThread);
    }
    if (ok && t->tool == TwoRuns) {
        if (second.ok && ReadText(secondLog))
            lstrcpyA(SecondLog, Text);
        else
            ok = 0, lstrcpyA(why, "cannot run it the second time");
    }
    SetEnvironmentVariableA("WINEDEBUG", debug[0] ? debug : NULL);
    DWORD smEnable = NoValue, sdSwitch = NoValue;
    if (ok && LeftRunning(t)) {
        // Left running, quillset still takes the key that appears now; its
        // end lets the world be restored.
        CreateLateKey(&world);
        WaitForProcesses("quillset.exe", 0);
        ReadParameters(&smEnable, &sdSwitch);
    }
    if (ok && t->tool == Verify)
        ReadParameters(&smEnable, &sdSwitch);
    if (ok && !ReadText(capture ? logPath : outputPath))
        ok = 0, lstrcpyA(why, "cannot read the output");
    char restoreWhy[256] = "";
    int restored = RestoreWorld(&world, restoreWhy, sizeof restoreWhy);
    DeleteFileW(logPath);
    DeleteFileW(otherName);
    DeleteFileW(secondLog);
    DeleteFileW(second.outputPath);
    RemoveDirectoryW(logFolder);
    if (!ok || !restored) {
        DeleteFileW(outputPath);
        printf("FAIL %s: %s %s\n", t->name, why, restoreWhy);
        return 0;
    }

    printf("---- %s (%lu ms)\n", t->name, MonotonicMs() - startMs);
    DWORD expectedExit = RunningOnWine() ? t->exitCode : t->exitCodeOnWindows;
    if (exitCode != expectedExit) {
        printf("  exit code %lu, expected %lu\n", exitCode, expectedExit);
        ok = 0;
    }
    if (t->tool == Check)
        ok = CheckOutputLines(t) && ok;
    else if (t->tool == Verify)
        ok = CheckVerdict(t, settings, smEnable, sdSwitch) && ok;
    else if (t->harness == ToolCase::LogHardLink || t->harness == ToolCase::NoBreakaway) {
        // The other file keeps its bytes, or the log says where quillset
        // ran; and stderr says why.
        int linked = t->harness == ToolCase::LogHardLink;
        const char *said = linked ? "(hard links)" : "does not allow breakaway";
        int logRight = linked ? lstrcmpA(Text, "earlier run\r\n") == 0 : strstr(Text, said) != NULL;
        int stderrRight = ReadText(outputPath) && strstr(Text, said) != NULL;
        if (!logRight || !stderrRight)
            printf("  the log or stderr is not as expected, with \"%s\" on stderr\n", said), ok = 0;
    } else {
        int firstWaited = t->tool == TwoRuns && strstr(Text, LoggedLockWait) != NULL;
        ok = CheckLog(t, program, expectedExit, firstWaited ? LoggedLockWait : NULL) && ok;
        if (t->tool == TwoRuns)
            ok = CheckSecondRun(t, quillset, expectedExit, &second, !firstWaited) && ok;
        // Output that is never read takes the footer's grace in full.
        const char *timeout = strstr(t->options, "--timeout ");
        DWORD withinMs = DetachedWithinMs + (timeout != NULL ? atoi(timeout + 10) - 1 : 0) * 1000 +
                         (t->harness == ToolCase::StdoutNeverRead ? FooterGraceMs : 0);
        if (LeftRunning(t) && toolMs > withinMs)
            printf("  qscapture took %lu ms to let go\n", toolMs), ok = 0;
        // It waits for its stdout at the end: proof that the pipe was stuck.
        if (t->harness == ToolCase::StdoutStalled && toolMs < StallMs)
            printf("  qscapture ended after %lu ms, before its stdout took anything again\n", toolMs), ok = 0;
        DWORD traceEnd = 0;
        if (ok && t->harness == ToolCase::StdoutStalled && RunningOnWine())
            ok = ReadWineTraces(traceStart, &traceEnd) && CheckQuillsetGap();
        if (outputHeld)
            printf("  quillset, left running, holds qscapture's output open\n"), ok = 0;
        if (LeftRunning(t) && (smEnable != t->run.smEnable || sdSwitch != t->run.sdSwitch))
            printf("  SMEnable 0x%lx, SDSwitch 0x%lx once the key appeared; expected 0x%lx, 0x%lx\n", smEnable,
                   sdSwitch, t->run.smEnable, t->run.sdSwitch), ok = 0;
        // Only Wine traces the event.
        if (ok && RunningOnWine() && t->lines[0] != NULL) {
            if (!ReadWineTraces(traceStart, &traceEnd))
                printf("  cannot read Wine's traces: QUILLSET_WINE_OUTPUT names no file\n"), ok = 0;
            else
                ok = CheckOutputLines(t) && CheckEventMessages();
        }
        if (ok && !LeftRunning(t) && t->tool == Capture && t->harness == ToolCase::Plain)
            ok = ReadText(outputPath) && StdoutEndsAsTheLog();
    }
    DeleteFileW(outputPath);
    if (!ok)
        printf("%s", Text);
    printf("%s %s\n", ok ? "ok" : "FAIL", t->name);
    return ok;
}

// ---- qscheck --write -----------------------------------------------------------
// Paths and command lines are UTF-8 here and wide for Windows: the target
// may be named in letters outside the ANSI code page.

// Through cmd.exe, which takes a wide command line and redirects for us.
static int RunToolW(const char *commandLine, DWORD *exitCode)
{
    static wchar_t wide[4 * MAX_PATH];
    int code = Widen(CP_UTF8, commandLine, wide, 4 * MAX_PATH) ? _wsystem(wide) : -1;
    *exitCode = static_cast<DWORD>(code);
    return code != -1;
}

// The file holds exactly bytes, or is missing when bytes is NULL.
static int FileHolds(const wchar_t *path, const char *bytes, const char *what)
{
    static char held[4096];
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    DWORD read = 0;
    int ok = file == INVALID_HANDLE_VALUE ? bytes == NULL
                                          : bytes != NULL && ReadFile(file, held, sizeof held, &read, NULL) &&
                                                read == strlen(bytes) && memcmp(held, bytes, read) == 0;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok)
        printf("  %s: expected %s\n", what, bytes == NULL ? "no file" : bytes);
    return ok;
}

// Nothing but the target and its backup is left in the folder: no temporary
// file. Removes what it finds, so that the world can be restored.
static int NoStrays(const wchar_t *folder)
{
    wchar_t pattern[MAX_PATH];
    lstrcpyW(pattern, folder);
    lstrcatW(pattern, L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    int ok = 1;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const wchar_t *name = found.cFileName;
        if (lstrcmpW(name, L".") == 0 || lstrcmpW(name, L"..") == 0 || lstrcmpW(name, L"kvconfig.txt") == 0 ||
            lstrcmpW(name, L"kvconfig.txt.bak") == 0)
            continue;
        printf("  left behind: %ls\n", name);
        lstrcpyW(pattern + lstrlenW(folder) + 1, name);
        DeleteFileW(pattern);
        ok = 0;
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return ok;
}

static int RunWriteCase(const ToolCase *t, const char *qscheck)
{
    char target[MAX_PATH], outputPath[MAX_PATH], commandLine[4 * MAX_PATH], why[256] = "";
    GetWindowsDirectoryA(target, MAX_PATH);
    snprintf(target + lstrlenA(target), MAX_PATH - lstrlenA(target), "\\kvinst\\%s",
             t->target != NULL ? t->target : "kvconfig.txt");
    wchar_t path[MAX_PATH], backup[MAX_PATH], folder[MAX_PATH];
    Widen(CP_UTF8, target, path, MAX_PATH);
    lstrcpyW(backup, path);
    lstrcatW(backup, L".bak");
    lstrcpyW(folder, path);
    *wcsrchr(folder, L'\\') = L'\0';
    GetTempPathA(MAX_PATH, outputPath);
    lstrcatA(outputPath, "qse2e-tool.out");
    wchar_t output[MAX_PATH];
    Widen(CP_ACP, outputPath, output, MAX_PATH);
    // cmd.exe drops the outer quotes.
    snprintf(commandLine, sizeof commandLine, "\"\"%s\" %s %s%s%s > \"%s\" 2>&1\"", qscheck, t->arguments,
             t->defaultFile ? "" : "\"", t->defaultFile ? "" : target, t->defaultFile ? "" : "\"", outputPath);

    if (!WorldIsClean(why, sizeof why)) {
        printf("FAIL %s: the world is not clean before the case: %s\n", t->name, why);
        return 0;
    }
    World world;
    int ok = BuildWorld(&t->run, &world, why, sizeof why);
    if (ok && t->targetSetup == ToolCase::ReadOnly && !SetFileAttributesW(path, FILE_ATTRIBUTE_READONLY))
        ok = 0, lstrcpyA(why, "cannot make the target read-only");
    if (ok && t->targetSetup == ToolCase::Folder && !CreateDirectoryW(path, NULL))
        ok = 0, lstrcpyA(why, "cannot make a folder in the target's place");
    DWORD exitCode = 0;
    // Run twice, the second run is the one checked.
    WIN32_FILE_ATTRIBUTE_DATA first = {}, second = {};
    int twice = t->harness == ToolCase::WrittenTwice;
    if (ok && twice && !(RunToolW(commandLine, &exitCode) && GetFileAttributesExW(path, GetFileExInfoStandard, &first)))
        snprintf(why, sizeof why, "cannot run %s (error %lu)", commandLine, GetLastError()), ok = 0;
    if (ok && !(RunToolW(commandLine, &exitCode) && ReadText(output)))
        snprintf(why, sizeof why, "cannot run %s (error %lu)", commandLine, GetLastError()), ok = 0;
    if (ok && twice && (!GetFileAttributesExW(path, GetFileExInfoStandard, &second) ||
                        CompareFileTime(&first.ftLastWriteTime, &second.ftLastWriteTime) != 0))
        lstrcpyA(why, "the second run changed the file's time"), ok = 0;

    printf("---- %s\n", t->name);
    int passed = ok && FileHolds(path, t->after, "the target") && FileHolds(backup, t->backup, "the .bak file");
    passed = NoStrays(folder) && passed;
    if (ok && exitCode != t->exitCode)
        printf("  exit code %lu, expected %lu\n", exitCode, t->exitCode), passed = 0;
    // The expected lines with the target's path in them.
    static char lines[8][2 * MAX_PATH];
    ToolCase expanded = *t;
    for (int i = 0; i < 8 && t->lines[i] != NULL; i++)
        snprintf(lines[i], sizeof lines[i], t->lines[i], target), expanded.lines[i] = lines[i];
    passed = ok && CheckOutputLines(&expanded) && passed;

    // The target, file or folder, and its folder if no longer needed.
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(backup);
    DeleteFileW(path) || RemoveDirectoryW(path);
    RemoveDirectoryW(folder);
    DeleteFileA(outputPath);
    char restoreWhy[256] = "";
    if (!RestoreWorld(&world, restoreWhy, sizeof restoreWhy) || !ok)
        printf("  %s %s\n", why, restoreWhy), passed = 0;
    if (!passed)
        printf("%s", Text);
    printf("%s %s\n", passed ? "ok" : "FAIL", t->name);
    return passed;
}
