// The configuration job: waits for installation quiet, reads kvconfig.txt,
// stores the driver parameters and restarts the card controller.
#ifndef QUILLSET_JOB_H
#define QUILLSET_JOB_H

#include <windows.h>

// Highest DebugTrace level that is written; fixed when the program is built.
extern const DWORD TraceLevel;

// Value characters of the settings entries with ID '1' and ID '2'.
extern char SmEnableChar;
extern char SdHostChar;

// Data of the registry values SMEnable and SDSwitch.
extern DWORD SmEnableValue;
extern DWORD SdSwitchValue;

void ConfigureDevice(void);
int DeviceInstallInProgress(void);
int ReadConfigFile(void);
void DebugTrace(DWORD level, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

int UpdateDriverParameters(void);
int RestartDevice(void);
int ChangeDeviceState(const char *hardwareIdPrefix, DWORD stateChange, int compareLength);

#endif
