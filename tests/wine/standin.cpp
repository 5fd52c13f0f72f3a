// qsstandin: writes one of quillset's runs, its messages taken from the
// job's own texts, to the debugger and exits 0, so that qscapture and the
// package can be proved on runs that quillset itself never reaches under
// Wine (an enable taken, a controller left disabled or not running, found
// disabled and left so, a run that ends, or crashes, between its disable and
// its enable).
//     qsstandin <scenario>
// Without an argument the scenario is the first line of %windir%\qsstandin.txt,
// so that a package can run it as quillset.exe. An unknown scenario writes
// nothing of quillset's and exits 2.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "messages.h"

static char NotRunning[sizeof MsgNotRunningFormat + 16];
// In place of the enable pass: the run ends there, or crashes.
static const char EndsHere[] = "", CrashesHere[] = "";

// Everything up to the end of the disable pass, as an ordinary run; the
// disable pass is the last three.
static const char *const Written[] = {
    MsgFileOpened, MsgFileClosed, MsgSettingsRead, MsgKeyOpened, MsgSmEnableSet, MsgSdKeyOpened,
    MsgSdKeyPresent, MsgSdSwitchSet, MsgFound, MsgStateChanged, MsgDisablePassEnded, NULL,
};
static const int DisablePass = 3;

static const struct {
    const char *name;
    const char *enable[12]; // the enable pass, before MsgRestartEnded
    int disabledBefore;     // found disabled: what it says in place of both passes
} Scenarios[] = {
    {"ordinary", {MsgFound, MsgStateChanged, MsgControllerRuns}, 0},
    {"left-disabled",
     {MsgFound, MsgStateNotChanged, MsgEnableRetry, MsgFound, MsgStateNotChanged, MsgEnableRetry, MsgFound,
      MsgStateNotChanged, MsgLeftDisabled},
     0},
    {"not-running", {MsgFound, MsgStateChanged, NotRunning}, 0},
    {"reboot", {MsgFound, MsgStateChanged, MsgRebootPending}, 0},
    {"left-alone", {MsgFound, MsgDisabledLeftAlone}, 1},
    {"ended-after-disable", {EndsHere}, 0},
    {"crashed-after-disable", {CrashesHere}, 0},
};

// The first line of the file, without its line end.
static void ReadScenario(char *name, DWORD size)
{
    char path[MAX_PATH];
    DWORD length = GetWindowsDirectoryA(path, MAX_PATH - 16), read = 0;
    lstrcpyA(path + (length < MAX_PATH - 16 ? length : 0), "\\qsstandin.txt");
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        if (!ReadFile(file, name, size - 1, &read, NULL))
            read = 0;
        CloseHandle(file);
    }
    name[read] = '\0';
    name[strcspn(name, "\r\n")] = '\0';
}

int main(int argc, char **argv)
{
    char name[64];
    if (argc > 1)
        lstrcpynA(name, argv[1], sizeof name);
    else
        ReadScenario(name, sizeof name);
    snprintf(NotRunning, sizeof NotRunning, MsgNotRunningFormat, 10ul);
    for (const auto &scenario : Scenarios) {
        if (lstrcmpA(name, scenario.name) != 0)
            continue;
        int written = sizeof Written / sizeof Written[0] - 1 - (scenario.disabledBefore ? DisablePass : 0);
        for (int i = 0; i < written; i++)
            OutputDebugStringA(Written[i]);
        for (int i = 0; scenario.enable[i] != NULL; i++) {
            if (scenario.enable[i] == EndsHere)
                return 0;
            if (scenario.enable[i] == CrashesHere)
                RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, NULL);
            OutputDebugStringA(scenario.enable[i]);
        }
        OutputDebugStringA(MsgRestartEnded);
        return 0;
    }
    OutputDebugStringA("qsstandin: unknown scenario\n");
    return 2;
}
