// Stand-in devices: root-enumerated device entries with chosen hardware IDs,
// registered and removed through SetupAPI, with no driver behind them.
#ifndef QUILLSET_DEVICE_REGISTRAR_H
#define QUILLSET_DEVICE_REGISTRAR_H

#include <windows.h>

// Room for any device instance ID (MAX_DEVICE_ID_LEN) and its terminator.
const DWORD InstanceIdSize = 201;

// Registers one device whose hardware-ID property is hardwareIds, a list of
// NUL-terminated strings ended by an empty one; NULL registers a device
// without the property. On success returns 1 and, when instanceId is not
// NULL, the new device's instance ID. Returns 0 on failure; GetLastError says why.
int RegisterStandInDevice(const char *hardwareIds, char *instanceId, DWORD instanceIdSize);

// Removes the device with this instance ID; returns 1 on success.
int RemoveDeviceInstance(const char *instanceId);

// Removes every stand-in this unit registered whose first hardware ID starts
// with prefix (compared case-sensitively, as the hardware ID is written); any
// other device is left alone. Returns how many were removed, or -1 when the
// prefix is empty, or the devices could not be listed or one not removed.
int RemoveStandInsByHardwareId(const char *prefix);

// How many stand-ins this unit registered are still there; -1 when the
// devices cannot be listed.
int StandInDeviceCount(void);

#endif
