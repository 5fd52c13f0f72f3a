// The scriptable world behind the host stand-in. Tests set it up, run the
// job, and read back what the job did.
#ifndef FAKEWIN_FAKEWIN_H
#define FAKEWIN_FAKEWIN_H

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cfgmgr32.h"
#include "crt_stream.h"
#include "setupapi.h"

namespace fake {

extern const char SettingsPath[];

struct Device {
    std::string hardwareIds;   // raw property bytes, a list of NUL-terminated IDs
    bool hasProperty = true;
    DWORD readError = 0;       // fails every property read with this error
    DWORD growth = 0;          // bytes the property gains at every read
    // What CM_Get_DevNode_Status reports; statusStub: success, nothing written.
    ULONG status = DN_DRIVER_LOADED | DN_STARTED;
    ULONG problem = 0;
    bool statusStub = false;
    std::deque<std::pair<ULONG, ULONG>> statusFirst;   // status and problem of the first reads
    // Disabled through the class installer, per scope: in every hardware
    // profile (global) or in the current one (config-specific). Either one
    // disables the device, whatever the status above says.
    bool disabledGlobally = false;
    bool disabledInProfile = false;
    DWORD installFlags = 0;   // what the class installer set in this device set
    std::string instanceId;   // "": PCI\STANDIN\<index>
};

// One call of ntdll's NtCreateFile, as it was made.
struct NtCreate {
    HANDLE root;
    std::u16string name;   // the counted name, its Length bytes
    DWORD attributes, access, share, disposition, options;
};

struct Value {
    DWORD type;
    std::string data;
};

struct World {
    std::string currentDirectory = "C:\\users\\admin";
    std::string windowsDirectory = "C:\\windows";
    std::set<std::string> directories = {"C:\\windows\\kvinst"};
    std::map<std::string, std::string> files;   // full path -> bytes
    CrtBuffering crt;   // how the C runtime fills its buffer from them

    bool serviceKeyExists = true;   // the kvcard service key, above it
    bool keyExists = true;
    ULONGLONG keyMadeAt = 0;   // the time (now, below) a driver's installer makes it
    REGSAM keyGrants = KEY_ALL_ACCESS;   // what the key's ACL allows us
    std::map<std::string, Value> values;
    // HKLM\SOFTWARE\quillset, in the 64-bit view; a 32-bit process on
    // 64-bit Windows that does not ask for that view gets the 32-bit one.
    bool recordKeyExists = false;
    std::map<std::string, Value> record, record32;

    // The clock: UTC as a FILETIME, and milliseconds since the machine
    // started. Sleep moves both.
    ULONGLONG now = 134100000000000000ull;
    ULONGLONG uptimeMs = 3600000;

    bool setupapiLoaded = true;
    bool probeExported = true;
    std::deque<DWORD> probeResults;   // then WAIT_OBJECT_0
    std::vector<Device> devices;
    bool wow64 = false;          // a 32-bit process on 64-bit Windows
    bool dllDirectoriesExported = true;   // false: before 8 without KB2533623
    std::string dllSearch = "as started";   // what the DLL search was narrowed to
    bool exceptionPolicyExported = true;    // false: before 7 SP1 without KB976038
    DWORD exceptionPolicy = 0x3;            // PROCESS_CALLBACK_FILTER_ENABLED and another flag
    DWORD installFlags = 0;      // of every device's install parameters, besides its own

    // The lock Global\quillset as another run left it: made, by
    // Administrators or a user, held, and what waiting for it ends in.
    bool lockExists = false;
    bool lockByAdministrators = true;
    bool lockHeld = false;
    DWORD lockRelease = WAIT_OBJECT_0;

    std::vector<NtCreate> ntCreates;
    LONG ntCreateStatus = 0;   // what NtCreateFile answers a valid call

    // "Name" fails every call of that name, "Name#n" only its n-th call.
    std::set<std::string> failing;
    DWORD propertyError = ERROR_INVALID_PARAMETER;   // of a failing property read
    DWORD keyOpenError = ERROR_FILE_NOT_FOUND;       // of a failing key open

    // What happened. The log holds every debugger message and "[sleep N]".
    std::vector<std::string> log;
    // Called after each debugger message, to end the run there, for example.
    void (*afterMessage)(void) = nullptr;
    std::vector<std::string> calls;   // "Name#n" of every call that can fail
    std::map<std::string, int, std::less<>> callCounts;
    std::vector<SP_PROPCHANGE_PARAMS> classInstallParams;
    std::vector<std::pair<DWORD, DWORD>> stateChanges;   // device index, state
    int keyOpens = 0;
    int openKeys = 0;
    int openSets = 0;
    int liveBuffers = 0;
    int openFiles = 0;
    int openHandles = 0;
    int lockOwned = 0;   // how often we hold it
    std::vector<std::string> fileModes;   // of every open, in order
};

extern World world;

// A fresh world: the settings directory exists, the key exists, no devices.
void Reset();

// The debugger messages alone, without the pauses.
std::vector<std::string> Messages();

}

#endif
