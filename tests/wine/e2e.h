// End-to-end cases: each builds a world (settings file, driver key, stand-in
// devices), runs the real quillset.exe under a debugger and compares what it
// wrote to the debugger output and the registry with the case's table row.
#ifndef QUILLSET_E2E_H
#define QUILLSET_E2E_H

#include <windows.h>

enum SettingsKind { FileBytes, NoFile, NoDirectory, LargeFile, RandomFile };
// KeyHolding: present, holding the case's smEnable and sdSwitch.
enum KeyState { KeyPresent, KeyAbsent, KeyLate, KeyDenied, KeySetValueOnly, KeyHolding };

enum CaseFlags {
    // Only the frame of the run: the expected messages start it, the file
    // is closed, and the values are either untouched or in range.
    FrameOnly = 1,
    // Other programs broadcast to every top-level window all through the
    // run, and none of quillset's may hold them up.
    Broadcasts = 2,
};

// Markers inside an expected message list.
extern const char PAUSE[];   // at least a restart or key-wait pause between its neighbours
extern const char DIRS[];    // the current, Windows and settings directory traces
extern const char CD_SET[];  // the settings directory made current
extern const char CHANGE[];  // one state change on a matching device
extern const char NO_HWID[]; // in a device list: a device without hardware IDs
extern const char WOW64[];   // the 32-bit-on-64-bit notice, where it applies

// A value quillset has not written; it only ever writes 0 to 3.
const DWORD Sentinel = 0xDEADBEEF;
// The value, or its key, does not exist.
const DWORD NoValue = 0xFFFFFFFF;

const int MaxExpected = 48;

struct Case {
    const char *name;
    SettingsKind settings;
    const char *bytes; // FileBytes only
    DWORD length;
    KeyState key;
    const char *devices[3]; // hardware-ID lists, each ending in an empty string
    DWORD smEnable, sdSwitch; // registry values after the run
    unsigned flags;
    const char *expected[MaxExpected];
    DWORD filler = 0; // FileBytes: comment bytes before the case's own
};

extern const Case Cases[];
extern const int CaseCount;

// Cases of the administrator's tools, each with a world built as for a case.
// Register adds qscapture's event source, checks it and removes it. TwoRuns
// is Capture twice, the second run started 150 ms after the first: one of
// them must wait, and start its work only after the other one's end. Verify
// runs qscheck --verify, which must leave the driver's values as they were.
enum Tool { Check, Capture, Register, TwoRuns, Verify };
struct ToolCase {
    const char *name;
    Tool tool;
    int defaultFile; // Check: no file named on the command line
    // The world; for Capture also the lines its log must hold, and in its
    // name a qsstandin scenario to run in quillset's place ("": quillset).
    Case run;
    DWORD exitCode, exitCodeOnWindows;
    // Check: lines its output holds, in this order. Verify: all its output,
    // one line, "%s" for the file (compared under Wine, or without devices: a
    // stand-in without a driver reports a problem on Windows). Capture: what Wine
    // traces of the event (the type and ID, then strings).
    const char *lines[8];
    const char *options = ""; // Capture: qscapture's options besides --log and --outcome
    // Capture: how the log ends. NULL: "exit code 0, outcome <exit code>: ...";
    // "exit code ...": exactly that; "": no footer, as the case ends qscapture
    // while quillset waits for the key; "detached (Ctrl+C)...": the case presses
    // Ctrl+C then. Otherwise the key appears once qscapture is gone, and
    // quillset must still write the values.
    const char *footer = NULL;

    // qscheck --write: its arguments (the target follows unless defaultFile),
    // the target below kvinst (UTF-8, default kvconfig.txt) and what is made
    // of it, and its bytes and those of its .bak afterwards (NULL: no file).
    const char *arguments = nullptr;
    const char *target = nullptr;
    enum { AsBuilt, ReadOnly, Folder } targetSetup = AsBuilt;
    const char *after = nullptr;
    const char *backup = nullptr;
    // Besides the run: qscheck --write run twice, the second run checked;
    // qscapture in a job ended once quillset waits for the key, or in one
    // without breakaway; its stdout a pipe that stalls after the disable, or
    // is never read; its log with a second name; qscheck --verify after a
    // run of quillset.
    enum { Plain, WrittenTwice, JobEnded, NoBreakaway, StdoutStalled, StdoutNeverRead, LogHardLink, AfterQuillset }
        harness = Plain;
};
extern const ToolCase ToolCases[];
extern const int ToolCaseCount;

// The messages a case expects, markers expanded; returns their count.
int ExpectedMessages(const Case *c, const char **texts, int maxTexts);
int RunningOnWine(void);
int RunToolCase(const ToolCase *t, const char *quillset, const char *qscheck, const char *qscapture,
                const char *qsstandin);
// The helper's whole run (qse2e --ctrl-c PID): presses Ctrl+C in the console
// of that process when told; exits with 0 once it did.
int PressCtrlC(DWORD process);

// World building and restoring.
struct World {
    char instanceIds[3][201];
    int deviceCount;
    int keyCreatedLate;
};
int WorldIsClean(char *why, DWORD whySize);
int BuildWorld(const Case *c, World *world, char *why, DWORD whySize);
void CreateLateKey(World *world);
void ReadParameters(DWORD *smEnable, DWORD *sdSwitch);
int RestoreWorld(World *world, char *why, DWORD whySize);
DWORD SettingsFileSize(const Case *c);

#endif
