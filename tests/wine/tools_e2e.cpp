// Runs the administrator's tools against a built world: qscheck on a settings
// file, and qscapture --outcome --log around quillset.exe.
#include <stdio.h>
#include <string.h>

#include "debug_capture.h"
#include "e2e.h"

static const DWORD HungAfterMs = 60000;

// Starts commandLine with stdout and stderr going to outputPath and waits for it.
static int RunTool(char *commandLine, const char *outputPath, DWORD *exitCode)
{
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    HANDLE output = CreateFileA(outputPath, GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (output == INVALID_HANDLE_VALUE)
        return 0;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION info;
    int ok = CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &info);
    CloseHandle(output);
    if (!ok)
        return 0;
    ok = WaitForSingleObject(info.hProcess, HungAfterMs) == WAIT_OBJECT_0 &&
         GetExitCodeProcess(info.hProcess, exitCode);
    if (!ok)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return ok;
}

static char Text[256 * 1024];

static int ReadText(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
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

static int CheckOutputLines(const ToolCase *t)
{
    const char *cursor = Text;
    char line[512];
    for (int i = 0; i < 8 && t->lines[i] != NULL; i++) {
        int found = 0;
        while (!found && NextLine(&cursor, line, sizeof line))
            found = lstrcmpA(line, t->lines[i]) == 0;
        if (!found) {
            printf("  no line \"%s\" (in this order)\n", t->lines[i]);
            return 0;
        }
    }
    return 1;
}

// "==== YYYY-MM-DD HH:MM:SS " before what the line says.
static const int StampLength = 25;
// "HH:MM:SS.mmm  " before a message.
static const int TimeLength = 14;

static int CheckLog(const ToolCase *t, const char *quillset, DWORD exitCode)
{
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof computer;
    GetComputerNameA(computer, &size);
    char header[MAX_PATH + 128], footer[128];
    snprintf(header, sizeof header, "%s start %s, file version " QUILLSET_VERSION ".0", computer, quillset);
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
    static const char *expected[MaxExpected * 3];
    int count = ExpectedMessages(&t->run, expected, MaxExpected * 3);
    for (int i = 0; i < count; i++) {
        static char escaped[1024];
        escaped[0] = '"';
        DWORD used = EscapeDebugText(expected[i], lstrlenA(expected[i]), escaped + 1, sizeof escaped - 2);
        lstrcpyA(escaped + 1 + used, "\"");
        if (!NextLine(&cursor, line, sizeof line) || lstrlenA(line) < TimeLength || line[2] != ':' ||
            lstrcmpA(line + TimeLength, escaped) != 0) {
            printf("  log message %d is \"%s\", expected <time>  %s\n", i, line, escaped);
            return 0;
        }
    }
    if (!NextLine(&cursor, line, sizeof line) || strncmp(line, "==== ", 5) != 0 ||
        strncmp(line + StampLength, footer, lstrlenA(footer)) != 0 || NextLine(&cursor, line, sizeof line)) {
        printf("  footer \"%s\", expected \"==== <date> <time> %s...\" to end the log\n", line, footer);
        return 0;
    }
    return 1;
}

static int WriteEarlierRun(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    int ok = file != INVALID_HANDLE_VALUE && WriteFile(file, "earlier run\r\n", 13, &written, NULL) && written == 13;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

static int RunWriteCase(const ToolCase *t, const char *qscheck);

int RunToolCase(const ToolCase *t, const char *quillset, const char *qscheck, const char *qscapture)
{
    if (t->arguments != NULL)
        return RunWriteCase(t, qscheck);
    char temp[MAX_PATH], outputPath[MAX_PATH], logPath[MAX_PATH], settings[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    snprintf(outputPath, MAX_PATH, "%sqse2e-tool.out", temp);
    snprintf(logPath, MAX_PATH, "%sqse2e-tool.log", temp);
    GetWindowsDirectoryA(settings, MAX_PATH);
    lstrcatA(settings, "\\kvinst\\kvconfig.txt");
    char commandLine[4 * MAX_PATH];
    if (t->tool == Check)
        snprintf(commandLine, sizeof commandLine, t->defaultFile ? "\"%s\"" : "\"%s\" \"%s\"", qscheck, settings);
    else
        snprintf(commandLine, sizeof commandLine, "\"%s\" --log \"%s\" --outcome \"%s\"", qscapture, logPath,
                 quillset);

    char why[256] = "";
    if (!WorldIsClean(why, sizeof why)) {
        printf("FAIL %s: the world is not clean before the case: %s\n", t->name, why);
        return 0;
    }
    World world;
    int ok = BuildWorld(&t->run, &world, why, sizeof why);
    if (ok && t->tool == Capture && !WriteEarlierRun(logPath))
        ok = 0, lstrcpyA(why, "cannot write the log");
    DWORD exitCode = 0, startMs = MonotonicMs();
    if (ok && !RunTool(commandLine, outputPath, &exitCode))
        snprintf(why, sizeof why, "cannot run %s (error %lu)", commandLine, GetLastError()), ok = 0;
    if (ok && !ReadText(t->tool == Check ? outputPath : logPath))
        ok = 0, lstrcpyA(why, "cannot read the output");
    char restoreWhy[256] = "";
    int restored = RestoreWorld(&world, restoreWhy, sizeof restoreWhy);
    DeleteFileA(outputPath);
    DeleteFileA(logPath);
    if (!ok || !restored) {
        printf("FAIL %s: %s %s\n", t->name, why, restoreWhy);
        return 0;
    }

    printf("---- %s (%lu ms)\n", t->name, MonotonicMs() - startMs);
    DWORD expectedExit = RunningOnWine() ? t->exitCode : t->exitCodeOnWindows;
    if (exitCode != expectedExit) {
        printf("  exit code %lu, expected %lu\n", exitCode, expectedExit);
        ok = 0;
    }
    ok = (t->tool == Check ? CheckOutputLines(t) : CheckLog(t, quillset, expectedExit)) && ok;
    if (!ok)
        printf("%s", Text);
    printf("%s %s\n", ok ? "ok" : "FAIL", t->name);
    return ok;
}

// ---- qscheck --write -----------------------------------------------------------
// Paths and command lines are UTF-8 here and wide for Windows: the target
// may be named in letters outside the ANSI code page.

static int Wide(const char *utf8, wchar_t *wide, int size)
{
    return MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, size) > 0;
}

// Through cmd.exe, which takes a wide command line and redirects for us.
static int RunToolW(const char *commandLine, DWORD *exitCode)
{
    static wchar_t wide[4 * MAX_PATH];
    int code = Wide(commandLine, wide, 4 * MAX_PATH) ? _wsystem(wide) : -1;
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
    Wide(target, path, MAX_PATH);
    lstrcpyW(backup, path);
    lstrcatW(backup, L".bak");
    lstrcpyW(folder, path);
    *wcsrchr(folder, L'\\') = L'\0';
    GetTempPathA(MAX_PATH, outputPath);
    lstrcatA(outputPath, "qse2e-tool.out");
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
    if (ok && !(RunToolW(commandLine, &exitCode) && ReadText(outputPath)))
        snprintf(why, sizeof why, "cannot run %s (error %lu)", commandLine, GetLastError()), ok = 0;

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
