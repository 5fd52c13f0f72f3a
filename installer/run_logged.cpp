#include "run_logged.h"

#include <msiquery.h>
#include <stdio.h>

// Longest line copied into the MSI log at once.
static const size_t LineSize = 512;

void LogLine(MSIHANDLE install, const char *text)
{
    // Every byte may become "[\x]" (four bytes); longer lines are cut.
    char escaped[4 * LineSize + 1];
    size_t used = 0;
    for (const char *p = text; *p && used + 4 < sizeof escaped; p++) {
        if (*p == '[' || *p == ']' || *p == '{' || *p == '}') {
            escaped[used++] = '[';
            escaped[used++] = '\\';
            escaped[used++] = *p;
            escaped[used++] = ']';
        } else {
            escaped[used++] = *p;
        }
    }
    escaped[used] = '\0';
    MSIHANDLE record = MsiCreateRecord(0);
    if (!record)
        return;
    MsiRecordSetStringA(record, 0, escaped);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// The line so far, flushed at a line feed or when full.
static void AddOutput(MSIHANDLE install, char *line, size_t *used, const char *bytes, DWORD count)
{
    for (DWORD i = 0; i < count; i++) {
        char c = bytes[i];
        if (c == '\r')
            continue;
        if (c != '\n')
            line[(*used)++] = c;
        if ((c == '\n' && *used > 0) || *used == LineSize - 1) {
            line[*used] = '\0';
            LogLine(install, line);
            *used = 0;
        }
    }
}

// Reads the child's output until every holder of the pipe's write end has
// closed it, then waits for the child itself.
static void CopyOutput(MSIHANDLE install, HANDLE output, HANDLE process, DWORD *exitCode)
{
    char line[LineSize];
    size_t used = 0;
    char chunk[256];
    DWORD got;
    while (ReadFile(output, chunk, sizeof chunk, &got, NULL) && got > 0)
        AddOutput(install, line, &used, chunk, got);
    if (used > 0) {
        line[used] = '\0';
        LogLine(install, line);
    }
    WaitForSingleObject(process, INFINITE);
    if (!GetExitCodeProcess(process, exitCode))
        *exitCode = (DWORD)-1;
}

static int RunCommand(MSIHANDLE install, WCHAR *command, DWORD *exitCode)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        LogLine(install, "quillset: could not make a pipe for the child's output");
        return 0;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION child;
    int started = CreateProcessW(NULL, command, NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &startup, &child) != 0;
    DWORD error = GetLastError();
    // Only the child may hold the write end, or the read never ends.
    CloseHandle(writeEnd);
    if (started) {
        CopyOutput(install, readEnd, child.hProcess, exitCode);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    } else {
        // The log is ANSI: characters outside its code page show as '?'.
        char narrow[401] = "";
        if (!WideCharToMultiByte(CP_ACP, 0, command, -1, narrow, sizeof narrow, NULL, NULL))
            narrow[sizeof narrow - 1] = '\0';
        char text[600];
        snprintf(text, sizeof text, "quillset: could not start %s, error %lu", narrow, error);
        LogLine(install, text);
    }
    CloseHandle(readEnd);
    return started;
}

int RunLogged(MSIHANDLE install, DWORD *exitCode)
{
    DWORD size = 0;
    WCHAR empty[1] = L"";
    if (MsiGetPropertyW(install, L"CustomActionData", empty, &size) != ERROR_MORE_DATA || size == 0) {
        LogLine(install, "quillset: the action has no command line (CustomActionData is empty)");
        return 0;
    }
    size++;
    WCHAR *command = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, size * sizeof *command);
    if (!command) {
        LogLine(install, "quillset: out of memory");
        return 0;
    }
    int ran = 0;
    if (MsiGetPropertyW(install, L"CustomActionData", command, &size) == ERROR_SUCCESS)
        ran = RunCommand(install, command, exitCode);
    HeapFree(GetProcessHeap(), 0, command);
    return ran;
}
