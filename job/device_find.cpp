// Finding a device by the start of its first hardware ID, as the restart and
// the compliance check both do.
#include "job.h"

// A property that keeps growing between reads (a device being reconfigured)
// must not keep us here for ever.
static const int PropertyReadLimit = 4;

static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void *) == 8 ? 32 : 28), "SetupAPI checks cbSize exactly");

// Compares like strncmp, but never reads past the property's size: the
// platform does not promise a terminator. A property without text never matches.
static int HardwareIdMatches(const char *property, DWORD size, const char *prefix, int compareLength)
{
    if (size == 0 || property[0] == '\0')
        return 0;
    for (int i = 0; i < compareLength; i++) {
        char c = (DWORD)i < size ? property[i] : '\0';
        if (c != prefix[i])
            return 0;
        if (c == '\0')
            break;
    }
    return 1;
}

// Reads the device's hardware IDs and compares the first one with the prefix.
// Returns 1 on a match, 0 on no match (or a device to skip), -1 when the
// enumeration must be abandoned.
static int MatchDevice(HDEVINFO devices, SP_DEVINFO_DATA *device, const char *prefix, int compareLength)
{
    BYTE *buffer = NULL;
    DWORD size = 0;
    DWORD required = 0;
    int result = 0;

    for (int reads = 1;; reads++) {
        if (SetupDiGetDeviceRegistryPropertyA(devices, device, SPDRP_HARDWAREID, NULL, buffer, size,
                                              &required)) {
            result = HardwareIdMatches(reinterpret_cast<char *>(buffer), size, prefix, compareLength);
            break;
        }
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_DATA) {
            OutputDebugStringA(MsgNoHardwareIds);
            break;
        }
        // Unplugged while we look: the rest of the list is still worth searching.
        if (error == ERROR_NO_SUCH_DEVINST) {
            OutputDebugStringA(MsgDeviceGone);
            break;
        }
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            OutputDebugStringA(MsgHardwareIdsUnreadable);
            result = -1;
            break;
        }
        if (reads == PropertyReadLimit) {
            OutputDebugStringA(MsgHardwareIdsChanging);
            break;
        }
        if (buffer != NULL)
            LocalFree(buffer);
        buffer = static_cast<BYTE *>(LocalAlloc(LMEM_ZEROINIT, required));
        if (buffer == NULL) {
            OutputDebugStringA(MsgHardwareIdsNoMemory);
            break;
        }
        size = required;
    }

    if (buffer != NULL)
        LocalFree(buffer);
    return result;
}

int FindDevice(HDEVINFO devices, const char *prefix, int compareLength, int tolerant, SP_DEVINFO_DATA *device)
{
    ZeroMemory(device, sizeof *device);
    device->cbSize = sizeof *device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, device); index++) {
        int match = MatchDevice(devices, device, prefix, compareLength);
        if (match > 0)
            return 1;
        if (match < 0 && !tolerant)
            return -1;
    }
    return 0;
}
