// The configuration job: waits for installation quiet, reads kvconfig.txt,
// stores the driver parameters and restarts the card controller.
#ifndef QUILLSET_JOB_H
#define QUILLSET_JOB_H

#include <stdio.h>
#include <windows.h>

#include <setupapi.h>

#include "messages.h"

// The media-card controller, by the start of its first hardware ID.
inline constexpr char ControllerHardwareId[] = "PCI\\VEN_1D5B&DEV_4F17";

// Highest DebugTrace level that is written; fixed when the program is built.
extern const DWORD TraceLevel;

// Value characters of the settings entries with ID '1' and ID '2'.
extern char SmEnableChar;
extern char SdHostChar;

// Data of the registry values SMEnable and SDSwitch.
extern DWORD SmEnableValue;
extern DWORD SdSwitchValue;

void ConfigureDevice(void);
// The named mutex Global\quillset around the job. Returns it held, after
// waiting for another run to end; NULL, having said so, when it is not
// another quillset's or cannot be used, and the job goes on without it.
HANDLE TakeJobLock(void);
void ReleaseJobLock(HANDLE lock);
int DeviceInstallInProgress(void);
int ReadConfigFile(void);
// The settings reader, also used by tools that explain a settings file.
// Called by ScanSettings for every colon it meets. id: the character after
// the colon, or EOF. idEnd: the byte offset just after the ID. value: for IDs
// '1' and '2' the value character (or EOF), else NoEntryValue. Returns
// nonzero to go on scanning.
const int NoEntryValue = -2;
typedef int (*SettingsEntryProc)(void *context, int id, long long idEnd, int value);

// Scans an open binary ("rb") stream from its start, tracing each entry.
// Sets SmEnableChar and SdHostChar from the entries up to the first ID '2'
// entry. Without onEntry it stops after that entry; with onEntry it goes on
// while onEntry returns nonzero. Returns 1 when an ID '2' entry was read, 0
// when there is none or the stream failed (ferror tells which).
int ScanSettings(FILE *file, SettingsEntryProc onEntry, void *context);

// The message quillset writes when it refuses the named file because text
// mode would misread it (UTF-16, a bare LF, Ctrl-Z), the read-error message
// when its bytes cannot be read back, or NULL when the file may be read.
const char *SettingsFileRefusal(const char *name);
// The same for a binary ("rb") stream, read from where it stands to its end,
// for tools that open the file by a wide-character name.
const char *SettingsBytesRefusal(FILE *bytes);

// The registry data for a value character.
DWORD SmEnableFromChar(char c);
DWORD SdSwitchFromChar(char c);

void DebugTrace(DWORD level, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

int UpdateDriverParameters(void);
int RestartDevice(void);
int ChangeDeviceState(const char *hardwareIdPrefix, DWORD stateChange, int compareLength);

// Finds the first present device of the set whose first hardware ID starts
// with the prefix (compared over compareLength characters) and leaves it in
// *device. Returns 1 when found, 0 when none matched, -1 when a hardware ID
// could not be read and the search is not tolerant of that.
int FindDevice(HDEVINFO devices, const char *prefix, int compareLength, int tolerant, SP_DEVINFO_DATA *device);

// A device as Configuration Manager reports it (CM_Get_DevNode_Status).
enum DeviceState {
    DeviceRunning,      // started, no problem
    DeviceNotStarted,   // neither started nor reporting a problem
    DeviceDisabled,     // problem 22, CM_PROB_DISABLED
    DeviceNeedsReboot,  // problem 14, CM_PROB_NEED_RESTART
    DeviceProblem,      // any other problem code
    DeviceStateUnknown, // the status could not be read, or held no DN_ bit
    DeviceAbsent,       // no present device matched
};

// The state of one device node; *problem gets its problem code, 0 without one.
DeviceState ReadDeviceState(DWORD devInst, DWORD *problem);
// Finds the controller as RestartDevice does and reads its state, and, when
// instanceId is given (DeviceIdChars + 1 characters), its device instance
// ID, empty when there is none.
const DWORD DeviceIdChars = 200; // MAX_DEVICE_ID_LEN
DeviceState ReadControllerState(DWORD *problem, char *instanceId = NULL);

// quillset's record under HKLM\SOFTWARE\quillset, the key the package owns,
// in the 64-bit view on 64-bit Windows: the controller that quillset
// disabled, until it is no longer disabled, and what the last run stored and
// how it left the controller, for qscheck --verify.
inline constexpr char RecordKey[] = "SOFTWARE\\quillset";
inline constexpr char RecordDisabledName[] = "DisabledController"; // REG_SZ: its device instance ID, or empty
inline constexpr char RecordRunName[] = "LastRun";                 // REG_BINARY: a RunRecord

// How the last run left the values it stored.
enum RunApplied {
    AppliedNotRestarted = 0, // the controller was not restarted: a reboot applies them
    AppliedRestarted = 1,    // the controller was disabled and enabled again
    AppliedAtReboot = 2,     // the class installer left the restart to the next reboot
    AppliedWhenEnabled = 3,  // the controller was disabled, not by quillset, and left so
};

// One value, written at once, so that no reader sees half of one run.
struct RunRecord {
    DWORD smEnable, sdSwitch; // what the run stored
    DWORD applied;            // a RunApplied
    DWORD ticks;              // GetTickCount when the run ended
    FILETIME time;            // UTC, when the run ended
};
static_assert(sizeof(RunRecord) == 24, "the record's layout is fixed: 24 bytes, no padding");

// Whether the record names this device as the one quillset disabled.
int RecordNamesDevice(const char *instanceId);
// Each says MsgRecordNotWritten when it cannot write the record.
void RecordOwnDisable(const char *instanceId);
void ForgetOwnDisable(void);
void RecordRun(RunApplied applied);

#endif
