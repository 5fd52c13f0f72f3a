// qse2e: runs the end-to-end cases against quillset.exe. Usable unchanged on
// a Windows test machine without the card driver, as administrator:
//     qse2e [--program <quillset.exe>] [--list] [<case or group>...]
// qscheck.exe, qscapture.exe and qsstandin.exe are looked for beside it too.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "debug_capture.h"
#include "dll_search.h"
#include "e2e.h"

const char PAUSE[] = "<pause>";
const char DIRS[] = "<directories>";
const char CD_SET[] = "<settings directory current>";
const char CHANGE[] = "<state change>";
const char NO_HWID[] = "<no hardware ids>";
const char WOW64[] = "<wow64 notice>";

// Sleep(1000) may end a clock tick early as the debugger measures it.
static const DWORD PauseFloorMs = 950;

// The key appears half a second after the third failed open, well between
// the third and fourth attempt, whatever Wine's start-up costs.
static const int LateKeyAfterWaits = 3;
static const DWORD LateKeyDelayMs = 500;
// Not a limit on how long quillset may take, only on how long we wait for a
// hung one: the slowest case needs about 11 s.
static const DWORD HungAfterMs = 60000;

static const char KeyWaitMessage[] = "Reg key does not exist yet, wait 1s. ";

// ---- What the run wrote ----------------------------------------------------

struct Message {
    DWORD ms;
    DWORD length; // the full length, even when text holds less
    char text[320];
};

static const int MaxMessages = 2048;
static Message Messages[MaxMessages];
static int MessageCount;

struct RunState {
    World *world;
    const Case *c;
    int keyWaits;
    DWORD lastKeyWaitMs;
};

static void OnString(void *context, DWORD elapsedMs, const SYSTEMTIME *, const char *text, DWORD length)
{
    RunState *run = static_cast<RunState *>(context);
    if (text != NULL && lstrcmpA(text, KeyWaitMessage) == 0) {
        run->keyWaits++;
        run->lastKeyWaitMs = elapsedMs;
    }
    if (MessageCount < MaxMessages) {
        Message *message = &Messages[MessageCount];
        message->ms = elapsedMs;
        message->length = text != NULL ? length : 0;
        lstrcpynA(message->text, text != NULL ? text : "<unreadable>", sizeof message->text);
    }
    MessageCount++;
}

static int OnIdle(void *context, DWORD elapsedMs)
{
    RunState *run = static_cast<RunState *>(context);
    if (run->c->key == KeyLate && !run->world->keyCreatedLate && run->keyWaits >= LateKeyAfterWaits &&
        elapsedMs - run->lastKeyWaitMs >= LateKeyDelayMs)
        CreateLateKey(run->world);
    return elapsedMs < HungAfterMs;
}

// ---- What the case expects ---------------------------------------------------

struct Expected {
    const char *text;
    int pauseBefore;
};

// No marker stands for more than three messages.
static const int MaxExpanded = MaxExpected * 3;

static char DirectoryTraces[4][MAX_PATH + 64];
static int DirectoryTraceCut[4];

static int IsWine(void)
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
}

static void PrepareDirectoryTraces(void)
{
    char current[MAX_PATH], windows[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    GetWindowsDirectoryA(windows, MAX_PATH);
    snprintf(DirectoryTraces[0], sizeof DirectoryTraces[0], "CurrentDirectory: %s  \n", current);
    snprintf(DirectoryTraces[1], sizeof DirectoryTraces[1], "WindowsDirectory is: %s  \n", windows);
    snprintf(DirectoryTraces[2], sizeof DirectoryTraces[2], "The FullPath is: %s\\kvinst  \n", windows);
    snprintf(DirectoryTraces[3], sizeof DirectoryTraces[3], "Current Directory set to %s\\kvinst  \n", windows);
    // quillset cuts a trace at 255 characters, and then ends the line apart.
    for (int k = 0; k < 4; k++)
        if (lstrlenA(DirectoryTraces[k]) > 255) {
            DirectoryTraces[k][255] = '\0';
            DirectoryTraceCut[k] = 1;
        }
}

static int Append(Expected *list, int count, const char *text, int *pause)
{
    if (count < MaxExpanded) {
        list[count].text = text;
        list[count].pauseBefore = *pause;
    }
    *pause = 0;
    return count + 1;
}

static const char Wow64Notice[] =
    "quillset is 32-bit on 64-bit Windows and cannot restart the controller: use the 64-bit build \n";

static int AppendTrace(Expected *list, int count, int k, int *pause)
{
    count = Append(list, count, DirectoryTraces[k], pause);
    return DirectoryTraceCut[k] ? Append(list, count, "\n", pause) : count;
}

// Expands the markers of a case's list into the messages themselves.
static int ExpandExpected(const Case *c, Expected *list)
{
    // Wine's SetupAPI cannot set class-install parameters; Windows can, and
    // a stand-in without a driver takes the change.
    static const char *const wineChange[] = {"Found it! \n", "SetClassInstallParams Failed!!",
                                             "CallClassInstaller(REMOVE) failed\n", NULL};
    static const char *const windowsChange[] = {"Found it! \n", "Changed State on Device ID \n", NULL};
    const char *const *change = IsWine() ? wineChange : windowsChange;

    int count = 0, pause = 0;
    for (int i = 0; i < MaxExpected && c->expected[i] != NULL; i++) {
        const char *item = c->expected[i];
        if (item == PAUSE)
            pause = 1;
        else if (item == DIRS)
            for (int k = 0; k < 3; k++)
                count = AppendTrace(list, count, k, &pause);
        else if (item == CD_SET)
            count = AppendTrace(list, count, 3, &pause);
        else if (item == WOW64) {
            // quillset is built like this driver, so it runs under WOW64 when we do.
            BOOL wow64 = FALSE;
            if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
                count = Append(list, count, Wow64Notice, &pause);
        } else if (item == CHANGE)
            for (int k = 0; change[k] != NULL; k++)
                count = Append(list, count, change[k], &pause);
        else
            count = Append(list, count, item, &pause);
    }
    return count;
}

int ExpectedMessages(const Case *c, const char **texts, int maxTexts)
{
    static Expected expected[MaxExpanded];
    int count = ExpandExpected(c, expected);
    for (int i = 0; i < count && i < maxTexts && i < MaxExpanded; i++)
        texts[i] = expected[i].text;
    return count;
}

int RunningOnWine(void)
{
    return IsWine();
}

// ---- Broadcasts while quillset runs ------------------------------------------

// An installer's WM_SETTINGCHANGE waits for every top-level window in turn;
// the timeout only keeps a failing run from hanging. A run with fewer
// broadcasts than needed proves nothing about the window.
static const DWORD BroadcastEveryMs = 20, BroadcastLimitMs = 200;
static const int BroadcastsNeeded = 10;

struct Broadcaster {
    volatile LONG stop;
    int count;
    DWORD longestMs;
};

static DWORD WINAPI Broadcast(void *context)
{
    Broadcaster *b = static_cast<Broadcaster *>(context);
    for (; !b->stop; b->count++, Sleep(BroadcastEveryMs)) {
        DWORD start = MonotonicMs();
        DWORD_PTR result;
        SendMessageTimeoutA(HWND_BROADCAST, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        if (MonotonicMs() - start > b->longestMs)
            b->longestMs = MonotonicMs() - start;
    }
    return 0;
}

// ---- Checks and report ---------------------------------------------------------

// Messages longer than Message::text show cut, with their full length.
static void PrintEscaped(const char *label, const char *text, DWORD length)
{
    static char escaped[4 * 320 + 1];
    DWORD held = length < sizeof Messages[0].text ? length : sizeof Messages[0].text - 1;
    EscapeDebugText(text, held, escaped, sizeof escaped);
    if (held < length)
        printf("%s\"%s\"... (%lu bytes)\n", label, escaped, length);
    else
        printf("%s\"%s\"\n", label, escaped);
}

static void PrintMessages(void)
{
    for (int i = 0; i < MessageCount && i < MaxMessages; i++) {
        char label[32];
        snprintf(label, sizeof label, "    %3d %6lu ms  ", i, Messages[i].ms);
        PrintEscaped(label, Messages[i].text, Messages[i].length);
    }
}

static int MessageIs(int index, const char *text)
{
    return index < MessageCount && index < MaxMessages && Messages[index].length == (DWORD)lstrlenA(text) &&
           Messages[index].length < sizeof Messages[index].text && lstrcmpA(Messages[index].text, text) == 0;
}

static int CheckExactMessages(const Expected *list, int count)
{
    if (count > MaxExpanded) {
        printf("  the case expects more messages than it can hold\n");
        return 0;
    }
    for (int i = 0; i < count || i < MessageCount; i++) {
        if (i < count && MessageIs(i, list[i].text))
            continue;
        printf("  message %d differs:\n", i);
        if (i < count)
            PrintEscaped("    expected ", list[i].text, lstrlenA(list[i].text));
        else
            printf("    expected nothing more\n");
        if (i < MessageCount)
            PrintEscaped("    got      ", Messages[i].text, Messages[i].length);
        else
            printf("    got      nothing more\n");
        return 0;
    }
    for (int i = 1; i < count; i++) {
        DWORD gap = Messages[i].ms - Messages[i - 1].ms;
        if (list[i].pauseBefore && gap < PauseFloorMs) {
            printf("  only %lu ms between messages %d and %d, a pause expected\n", gap, i - 1, i);
            return 0;
        }
    }
    return 1;
}

// The run starts as expected and closes the file; what it read in between
// is the runtime's business.
static int CheckFrame(const Expected *list, int count)
{
    for (int i = 0; i < count; i++)
        if (!MessageIs(i, list[i].text)) {
            printf("  message %d is not the expected start of the run\n", i);
            return 0;
        }
    for (int i = count; i < MessageCount; i++)
        if (MessageIs(i, "The file 'kvconfig.txt' was closed successfully! \n"))
            return 1;
    printf("  the settings file was not closed\n");
    return 0;
}

// Whether the case's messages and values are compared exactly here.
static int ComparedExactly(const Case *c) { return !(c->flags & FrameOnly); }

static int CheckValues(const Case *c, DWORD smEnable, DWORD sdSwitch)
{
    if (ComparedExactly(c)) {
        if (smEnable == c->smEnable && sdSwitch == c->sdSwitch)
            return 1;
        printf("  SMEnable 0x%lx, SDSwitch 0x%lx afterwards; expected 0x%lx, 0x%lx\n", smEnable, sdSwitch,
               c->smEnable, c->sdSwitch);
        return 0;
    }
    if ((smEnable == Sentinel && sdSwitch == Sentinel) || (smEnable <= 1 && sdSwitch <= 3))
        return 1;
    printf("  SMEnable 0x%lx, SDSwitch 0x%lx afterwards; expected both untouched or in range\n", smEnable, sdSwitch);
    return 0;
}

// The scan time of a large input, recorded to watch for worse than linear growth.
static void RecordScanTime(const Case *c)
{
    DWORD opened = 0, closed = 0;
    for (int i = 0; i < MessageCount && i < MaxMessages; i++) {
        if (MessageIs(i, "The file 'kvconfig.txt' was opened sucessfully \n"))
            opened = Messages[i].ms;
        if (MessageIs(i, "The file 'kvconfig.txt' was closed successfully! \n"))
            closed = Messages[i].ms;
    }
    printf("  scanned %lu bytes in %lu ms, %d messages\n", SettingsFileSize(c), closed - opened, MessageCount);
}

static int RunCase(const Case *c, const char *program)
{
    char why[256] = "";
    if (!WorldIsClean(why, sizeof why)) {
        printf("FAIL %s: the world is not clean before the case: %s\n", c->name, why);
        return 0;
    }

    World world;
    int ok = BuildWorld(c, &world, why, sizeof why);
    DWORD exitCode = 0, startMs = MonotonicMs();
    DWORD smEnable = NoValue, sdSwitch = NoValue;
    Broadcaster broadcaster = {0, 0, 0};
    if (ok) {
        RunState run = {&world, c, 0, 0};
        DebugCaptureHooks hooks = {OnString, OnIdle, 50, &run, 0, NULL, NULL};
        WCHAR commandLine[MAX_PATH + 2] = L"\"";
        MultiByteToWideChar(CP_ACP, 0, program, -1, commandLine + 1, MAX_PATH);
        lstrcatW(commandLine, L"\"");
        MessageCount = 0;
        int detached = 0;
        HANDLE broadcasting =
            c->flags & Broadcasts ? CreateThread(NULL, 0, Broadcast, &broadcaster, 0, NULL) : NULL;
        if (!RunUnderDebugger(NULL, commandLine, NULL, &hooks, &exitCode, &detached) || detached) {
            snprintf(why, sizeof why, "cannot run %s to its end (error %lu)", program, GetLastError());
            ok = 0;
        }
        if (broadcasting != NULL) {
            InterlockedExchange(&broadcaster.stop, 1);
            WaitForSingleObject(broadcasting, INFINITE);
            CloseHandle(broadcasting);
        }
        ReadParameters(&smEnable, &sdSwitch);
    }
    char restoreWhy[256] = "";
    int restored = RestoreWorld(&world, restoreWhy, sizeof restoreWhy);
    if (!ok || !restored) {
        printf("FAIL %s: %s %s\n", c->name, why, restoreWhy);
        return 0;
    }

    printf("---- %s (%lu ms)\n", c->name, MonotonicMs() - startMs);
    static Expected expected[MaxExpanded];
    int count = ExpandExpected(c, expected);
    ok = ComparedExactly(c) ? CheckExactMessages(expected, count) : CheckFrame(expected, count);
    ok = CheckValues(c, smEnable, sdSwitch) && ok;
    if (c->flags & Broadcasts) {
        printf("  %d broadcasts, the longest %lu ms (at most %lu allowed)\n", broadcaster.count,
               broadcaster.longestMs, BroadcastLimitMs);
        ok = broadcaster.count >= BroadcastsNeeded && broadcaster.longestMs <= BroadcastLimitMs && ok;
    }
    if (MessageCount > MaxMessages) {
        printf("  %d messages, more than can be compared\n", MessageCount);
        ok = 0;
    }
    if (exitCode == DebuggeeEnded) {
        printf("  still running after %lu s, ended\n", HungAfterMs / 1000);
        ok = 0;
    } else if (exitCode != 0) {
        printf("  exit code %lu, expected 0\n", exitCode);
        ok = 0;
    }
    if (c->settings == LargeFile || c->settings == RandomFile)
        RecordScanTime(c);
    if (!ok)
        PrintMessages();
    printf("%s %s\n", ok ? "ok" : "FAIL", c->name);
    return ok;
}

// A name selects the case of that name, or every case of a group ("devices").
static int Selected(const char *name, int count, char **names)
{
    for (int i = 0; i < count; i++) {
        size_t length = strlen(names[i]);
        if (strncmp(name, names[i], length) == 0 && (name[length] == '\0' || name[length] == '.'))
            return 1;
    }
    return count == 0;
}

int main(int argc, char **argv)
{
    // Runs elevated: no DLL from beside the exe or the current directory.
    LimitDllSearch();
    if (argc == 3 && lstrcmpA(argv[1], "--ctrl-c") == 0)
        return PressCtrlC(strtoul(argv[2], NULL, 10));
    char program[MAX_PATH];
    // quillset.exe beside this program, unless told otherwise.
    DWORD length = GetModuleFileNameA(NULL, program, MAX_PATH - 16);
    while (length > 0 && program[length - 1] != '\\')
        length--;
    lstrcpyA(program + length, "quillset.exe");
    char qscheck[MAX_PATH], qscapture[MAX_PATH], qsstandin[MAX_PATH];
    lstrcpynA(qscheck, program, length + 1);
    lstrcatA(qscheck, "qscheck.exe");
    lstrcpynA(qscapture, program, length + 1);
    lstrcatA(qscapture, "qscapture.exe");
    lstrcpynA(qsstandin, program, length + 1);
    lstrcatA(qsstandin, "qsstandin.exe");

    int first = 1, list = 0;
    for (; first < argc && argv[first][0] == '-'; first++) {
        if (lstrcmpA(argv[first], "--program") == 0 && first + 1 < argc)
            lstrcpynA(program, argv[++first], MAX_PATH);
        else if (lstrcmpA(argv[first], "--qscheck") == 0 && first + 1 < argc)
            lstrcpynA(qscheck, argv[++first], MAX_PATH);
        else if (lstrcmpA(argv[first], "--qscapture") == 0 && first + 1 < argc)
            lstrcpynA(qscapture, argv[++first], MAX_PATH);
        else if (lstrcmpA(argv[first], "--qsstandin") == 0 && first + 1 < argc)
            lstrcpynA(qsstandin, argv[++first], MAX_PATH);
        else if (lstrcmpA(argv[first], "--list") == 0)
            list = 1;
        else {
            fprintf(stderr, "usage: qse2e [--program <quillset.exe>] [--qscheck <exe>] [--qscapture <exe>]\n"
                            "             [--qsstandin <exe>] [--list] [<case or group>...]\n");
            return 2;
        }
    }

    // Wine starts a desktop process for the first window and may wait 10 s
    // for it; paid here, that wait cannot show up in a case's timings. Ours
    // then keeps the desktop alive for every case.
    GetDesktopWindow();
    PrepareDirectoryTraces();
    int run = 0, failed = 0;
    for (int i = 0; i < CaseCount; i++) {
        if (!Selected(Cases[i].name, argc - first, argv + first))
            continue;
        run++;
        if (list)
            printf("%s\n", Cases[i].name);
        else if (!RunCase(&Cases[i], program))
            failed++;
        fflush(stdout);
    }
    for (int i = 0; i < ToolCaseCount; i++) {
        if (!Selected(ToolCases[i].name, argc - first, argv + first))
            continue;
        run++;
        if (list)
            printf("%s\n", ToolCases[i].name);
        else if (!RunToolCase(&ToolCases[i], program, qscheck, qscapture, qsstandin))
            failed++;
        fflush(stdout);
    }
    if (run == 0) {
        fprintf(stderr, "qse2e: no case selected\n");
        return 2;
    }
    if (!list)
        printf("%d of %d cases passed\n", run - failed, run);
    return failed != 0;
}
