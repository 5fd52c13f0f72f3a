#include "fakewin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>

#include "aclapi.h"
#include "crt_redirect.h"
#include "crt_stream.h"
#include "sddl.h"
#include "winternl.h"

namespace fake {

const char SettingsPath[] = "C:\\windows\\kvinst\\kvconfig.txt";
static const char ParametersKey[] = "System\\CurrentControlSet\\Services\\kvcard\\Parameters";

World world;
static DWORD lastError;

void Reset()
{
    world = World();
    lastError = 0;
}

std::vector<std::string> Messages()
{
    std::vector<std::string> messages;
    for (const std::string &entry : world.log)
        if (entry.compare(0, 7, "[sleep ") != 0)
            messages.push_back(entry);
    return messages;
}

// Counts the call and says whether the world wants it to fail.
static bool Fails(const char *name)
{
    // Without a string made for the lookup: the stream counts every character.
    auto count = world.callCounts.find(name);
    if (count == world.callCounts.end())
        count = world.callCounts.emplace(name, 0).first;
    std::string key = count->first + '#' + std::to_string(++count->second);
    bool fails = !world.failing.empty() && (world.failing.count(count->first) || world.failing.count(key));
    world.calls.push_back(std::move(key));
    return fails;
}

static DWORD CopyPath(const std::string &path, char *buffer, DWORD size)
{
    if (path.size() + 1 > size)
        return path.size() + 1;
    memcpy(buffer, path.c_str(), path.size() + 1);
    return path.size();
}

static DWORD WINAPI WaitNoPendingInstallEvents(DWORD timeout)
{
    if (timeout != 0)
        return WAIT_FAILED;
    if (world.probeResults.empty())
        return WAIT_OBJECT_0;
    DWORD result = world.probeResults.front();
    world.probeResults.pop_front();
    return result;
}

}

using fake::world;

DWORD GetCurrentDirectoryA(DWORD size, char *buffer)
{
    return fake::Fails("GetCurrentDirectoryA") ? 0 : fake::CopyPath(world.currentDirectory, buffer, size);
}

DWORD GetWindowsDirectoryA(char *buffer, DWORD size)
{
    return fake::Fails("GetWindowsDirectoryA") ? 0 : fake::CopyPath(world.windowsDirectory, buffer, size);
}

BOOL SetCurrentDirectoryA(const char *path)
{
    if (fake::Fails("SetCurrentDirectoryA") || !world.directories.count(path))
        return FALSE;
    world.currentDirectory = path;
    return TRUE;
}

void OutputDebugStringA(const char *text)
{
    world.log.push_back(text);
    if (world.afterMessage)
        world.afterMessage();
}

void Sleep(DWORD milliseconds)
{
    world.log.push_back("[sleep " + std::to_string(milliseconds) + "]");
    world.clockMs += milliseconds;
}

static int setupapi, kernel32, ntdll;

HMODULE GetModuleHandleA(const char *name)
{
    if (strcasecmp(name, "kernel32.dll") == 0)
        return reinterpret_cast<HMODULE>(&kernel32);
    if (strcasecmp(name, "ntdll.dll") == 0)
        return reinterpret_cast<HMODULE>(&ntdll);
    if (!world.setupapiLoaded || strcasecmp(name, "setupapi.dll") != 0)
        return NULL;
    return reinterpret_cast<HMODULE>(&setupapi);
}

static BOOL SetDefaultDllDirectories(DWORD flags)
{
    if (fake::Fails("SetDefaultDllDirectories"))
        return FALSE;
    world.dllSearch = flags == LOAD_LIBRARY_SEARCH_SYSTEM32 ? "System32" : "flags " + std::to_string(flags);
    return TRUE;
}

static const NTSTATUS StatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
static const NTSTATUS StatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);

// Refuses what the documented call refuses: a structure of another size, a
// name that is no counted string, synchronous I/O without SYNCHRONIZE.
static NTSTATUS NtCreateFile(HANDLE *file, ACCESS_MASK access, OBJECT_ATTRIBUTES *attributes, IO_STATUS_BLOCK *io,
                             LARGE_INTEGER *, ULONG, ULONG share, ULONG disposition, ULONG options, void *, ULONG)
{
    const UNICODE_STRING *name = attributes->ObjectName;
    if (attributes->Length != sizeof *attributes || name == NULL || name->Length % 2 != 0 ||
        name->Length > name->MaximumLength ||
        ((options & FILE_SYNCHRONOUS_IO_NONALERT) && !(access & SYNCHRONIZE)))
        return StatusInvalidParameter;
    world.ntCreates.push_back({attributes->RootDirectory, std::u16string(name->Buffer, name->Length / 2),
                               attributes->Attributes, access, share, disposition, options});
    if (world.ntCreateStatus < 0)
        return world.ntCreateStatus;
    static int opened;
    world.openHandles++;
    *file = &opened;
    io->Status = 0;
    return 0;
}

static ULONG RtlNtStatusToDosError(NTSTATUS status)
{
    return status == StatusAccessDenied ? ERROR_ACCESS_DENIED : 317;   // else ERROR_MR_MID_NOT_FOUND
}

template <typename Function>
static FARPROC Export(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

static BOOL GetProcessUserModeExceptionPolicy(DWORD *flags) { return *flags = world.exceptionPolicy, TRUE; }

static BOOL SetProcessUserModeExceptionPolicy(DWORD flags) { return world.exceptionPolicy = flags, TRUE; }

static FARPROC Kernel32Export(const char *name)
{
    if (world.dllDirectoriesExported && strcmp(name, "SetDefaultDllDirectories") == 0)
        return Export(SetDefaultDllDirectories);
    if (world.exceptionPolicyExported && strcmp(name, "GetProcessUserModeExceptionPolicy") == 0)
        return Export(GetProcessUserModeExceptionPolicy);
    if (world.exceptionPolicyExported && strcmp(name, "SetProcessUserModeExceptionPolicy") == 0)
        return Export(SetProcessUserModeExceptionPolicy);
    return NULL;
}

FARPROC GetProcAddress(HMODULE module, const char *name)
{
    if (module == reinterpret_cast<HMODULE>(&ntdll)) {
        if (strcmp(name, "NtCreateFile") == 0)
            return Export(NtCreateFile);
        return strcmp(name, "RtlNtStatusToDosError") == 0 ? Export(RtlNtStatusToDosError) : NULL;
    }
    if (module == reinterpret_cast<HMODULE>(&kernel32))
        return Kernel32Export(name);
    if (!world.probeExported || strcmp(name, "CMP_WaitNoPendingInstallEvents") != 0)
        return NULL;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(fake::WaitNoPendingInstallEvents));
}

BOOL SetDllDirectoryA(const char *path)
{
    world.dllSearch = path != NULL && path[0] == '\0' ? "without the current directory" : "other";
    return TRUE;
}

int lstrlenA(const char *text) { return text ? static_cast<int>(strlen(text)) : 0; }

int lstrlenW(const WCHAR *text) { return text ? static_cast<int>(std::char_traits<WCHAR>::length(text)) : 0; }

DWORD GetLastError(void) { return fake::lastError; }

void SetLastError(DWORD error) { fake::lastError = error; }

HLOCAL LocalAlloc(DWORD flags, size_t size)
{
    if (fake::Fails("LocalAlloc") || flags != LMEM_ZEROINIT)
        return NULL;
    world.liveBuffers++;
    return calloc(1, size ? size : 1);
}

HLOCAL LocalFree(HLOCAL memory)
{
    world.liveBuffers--;
    free(memory);
    return NULL;
}

HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL IsWow64Process(HANDLE process, BOOL *wow64)
{
    if (fake::Fails("IsWow64Process") || process != GetCurrentProcess())
        return FALSE;
    *wow64 = world.wow64;
    return TRUE;
}

// The lock: one mutex, made by us or by the world's other run.

static int mutex, administrators, user;

HANDLE CreateMutexA(SECURITY_ATTRIBUTES *attributes, BOOL initialOwner, const char *name)
{
    if (fake::Fails("CreateMutexA") || !attributes || !attributes->lpSecurityDescriptor ||
        strcmp(name, "Global\\quillset") != 0) {
        fake::lastError = ERROR_ACCESS_DENIED;
        return NULL;
    }
    world.openHandles++;
    fake::lastError = world.lockExists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    if (!world.lockExists)
        world.lockOwned += initialOwner;
    world.lockExists = true;
    return &mutex;
}

DWORD WaitForSingleObject(HANDLE, DWORD milliseconds)
{
    if (world.lockHeld && milliseconds != INFINITE)
        return WAIT_TIMEOUT;
    DWORD result = world.lockHeld ? world.lockRelease : WAIT_OBJECT_0;
    world.lockHeld = false;
    if (result != WAIT_FAILED)
        world.lockOwned++;
    return result;
}

BOOL ReleaseMutex(HANDLE) { return world.lockOwned--, TRUE; }

BOOL CloseHandle(HANDLE) { return world.openHandles--, TRUE; }

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(const char *text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR *descriptor, DWORD *)
{
    if (fake::Fails("ConvertStringSecurityDescriptorToSecurityDescriptorA") || revision != SDDL_REVISION_1)
        return FALSE;
    world.liveBuffers++;
    *descriptor = strdup(text);
    return TRUE;
}

DWORD GetSecurityInfo(HANDLE, SE_OBJECT_TYPE type, DWORD information, PSID *owner, PSID *, void **, void **,
                      PSECURITY_DESCRIPTOR *descriptor)
{
    if (fake::Fails("GetSecurityInfo") || type != SE_KERNEL_OBJECT || information != OWNER_SECURITY_INFORMATION)
        return ERROR_ACCESS_DENIED;
    world.liveBuffers++;
    *descriptor = calloc(1, 1);
    *owner = world.lockByAdministrators ? &administrators : &user;
    return ERROR_SUCCESS;
}

BOOL IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    return type == WinBuiltinAdministratorsSid && sid == &administrators;
}

// Registry: one key, handed out as a distinct handle per open.

LONG RegOpenKeyExA(HKEY root, const char *subkey, DWORD options, REGSAM access, HKEY *key)
{
    world.keyOpens++;
    if (fake::Fails("RegOpenKeyExA"))
        return world.keyOpenError;
    if (root != HKEY_LOCAL_MACHINE || strcasecmp(subkey, fake::ParametersKey) != 0 || !world.keyExists ||
        world.clockMs < world.keyAppearsMs)
        return ERROR_FILE_NOT_FOUND;
    if (options != 0)
        return ERROR_INVALID_PARAMETER;
    if (access & ~world.keyGrants)
        return ERROR_ACCESS_DENIED;
    world.openKeys++;
    *key = reinterpret_cast<HKEY>(new int);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY, const char *name, DWORD, DWORD type, const BYTE *data, DWORD size)
{
    if (fake::Fails("RegSetValueExA"))
        return ERROR_ACCESS_DENIED;
    world.values[name] = fake::Value{type, std::string(reinterpret_cast<const char *>(data), size)};
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    world.openKeys--;
    delete reinterpret_cast<int *>(key);
    return ERROR_SUCCESS;
}

// SetupAPI: one device set at a time over world.devices.

HDEVINFO SetupDiGetClassDevsA(const GUID *classGuid, const char *enumerator, void *parent, DWORD flags)
{
    static int set;
    if (fake::Fails("SetupDiGetClassDevsA") || classGuid || enumerator || parent ||
        flags != (DIGCF_PRESENT | DIGCF_ALLCLASSES))
        return INVALID_HANDLE_VALUE;
    world.openSets++;
    // Install parameters belong to the elements of one set.
    for (fake::Device &d : world.devices)
        d.installFlags = 0;
    return &set;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO, DWORD index, SP_DEVINFO_DATA *device)
{
    if (device->cbSize != sizeof *device) {
        fake::lastError = ERROR_INVALID_USER_BUFFER;
        return FALSE;
    }
    if (index >= world.devices.size()) {
        fake::lastError = ERROR_NO_MORE_ITEMS;
        return FALSE;
    }
    device->DevInst = index;
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO, SP_DEVINFO_DATA *device, DWORD property, DWORD *type,
                                       BYTE *buffer, DWORD size, DWORD *required)
{
    fake::Device &d = world.devices.at(device->DevInst);
    if (fake::Fails("SetupDiGetDeviceRegistryPropertyA")) {
        // A short buffer: the property grew since the size was asked for.
        if (required && world.propertyError == ERROR_INSUFFICIENT_BUFFER)
            *required = size + 1;
        fake::lastError = world.propertyError;
        return FALSE;
    }
    if (property != SPDRP_HARDWAREID || !d.hasProperty || d.readError) {
        fake::lastError = d.readError ? d.readError : ERROR_INVALID_DATA;
        return FALSE;
    }
    d.hardwareIds.append(d.growth, 'X');
    if (type)
        *type = 7;   // REG_MULTI_SZ
    if (required)
        *required = d.hardwareIds.size();
    if (size < d.hardwareIds.size()) {
        fake::lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    if (!d.hardwareIds.empty())
        memcpy(buffer, d.hardwareIds.data(), d.hardwareIds.size());
    return TRUE;
}

BOOL SetupDiSetClassInstallParamsA(HDEVINFO, SP_DEVINFO_DATA *, SP_CLASSINSTALL_HEADER *params, DWORD size)
{
    if (fake::Fails("SetupDiSetClassInstallParamsA") || size != sizeof(SP_PROPCHANGE_PARAMS))
        return FALSE;
    world.classInstallParams.push_back(*reinterpret_cast<SP_PROPCHANGE_PARAMS *>(params));
    return TRUE;
}

// The property change acts on the scope of the parameters set last: a
// global change on every hardware profile's flag, a config-specific one on
// the current profile's. A config-specific enable of a device that is still
// disabled globally leaves it disabled and asks for a reboot (so Microsoft's
// devcon sample notes; a global enable never does).
BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO, SP_DEVINFO_DATA *device)
{
    if (fake::Fails("SetupDiCallClassInstaller") || function != DIF_PROPERTYCHANGE ||
        world.classInstallParams.empty())
        return FALSE;
    const SP_PROPCHANGE_PARAMS &params = world.classInstallParams.back();
    fake::Device &d = world.devices.at(device->DevInst);
    bool global = params.Scope == DICS_FLAG_GLOBAL;
    if ((!global && params.Scope != DICS_FLAG_CONFIGSPECIFIC) || params.HwProfile != 0 ||
        (params.StateChange != DICS_ENABLE && params.StateChange != DICS_DISABLE)) {
        fake::lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    (global ? d.disabledGlobally : d.disabledInProfile) = params.StateChange == DICS_DISABLE;
    if (params.StateChange == DICS_ENABLE && !global && d.disabledGlobally)
        d.installFlags |= DI_NEEDREBOOT;
    world.stateChanges.emplace_back(device->DevInst, params.StateChange);
    return TRUE;
}

BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO, SP_DEVINFO_DATA *device, SP_DEVINSTALL_PARAMS_A *params)
{
    if (fake::Fails("SetupDiGetDeviceInstallParamsA") || params->cbSize != sizeof *params)
        return FALSE;
    params->Flags = world.installFlags | (device != NULL ? world.devices.at(device->DevInst).installFlags : 0);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO)
{
    world.openSets--;
    return TRUE;
}

CONFIGRET CM_Get_DevNode_Status(ULONG *status, ULONG *problem, DEVINST devInst, ULONG flags)
{
    if (fake::Fails("CM_Get_DevNode_Status") || flags != 0 || devInst >= world.devices.size())
        return CR_FAILURE;
    fake::Device &d = world.devices[devInst];
    if (d.statusStub)
        return CR_SUCCESS;
    if (d.disabledGlobally || d.disabledInProfile) {
        *status = DN_HAS_PROBLEM;
        *problem = CM_PROB_DISABLED;
    } else if (!d.statusFirst.empty()) {
        *status = d.statusFirst.front().first;
        *problem = d.statusFirst.front().second;
        d.statusFirst.pop_front();
    } else {
        *status = d.status;
        *problem = d.problem;
    }
    return CR_SUCCESS;
}

// The settings stream, read through msvcrt's buffer as on Windows and Wine.

static fake::CrtFile *Stream(FILE *file) { return reinterpret_cast<fake::CrtFile *>(file); }

FILE *FakeFopen(const char *name, const char *mode)
{
    world.fileModes.push_back(mode);
    std::string path = name[0] && name[1] == ':' ? name : world.currentDirectory + "\\" + name;
    auto found = world.files.find(path);
    if (fake::Fails("fopen") || found == world.files.end())
        return NULL;
    world.openFiles++;
    fake::CrtFile *file = new fake::CrtFile;
    file->bytes = found->second;
    file->text = strchr(mode, 'b') == NULL;
    file->buffering = world.crt;
    return reinterpret_cast<FILE *>(file);
}

int FakeFgetc(FILE *file)
{
    if (fake::Fails("fgetc")) {
        Stream(file)->error = true;
        return EOF;
    }
    return fake::CrtGetc(Stream(file));
}

int FakeUngetc(int c, FILE *file) { return fake::CrtUngetc(c, Stream(file)); }

size_t FakeFread(void *buffer, size_t size, size_t count, FILE *file)
{
    if (fake::Fails("fread")) {
        Stream(file)->error = true;
        return 0;
    }
    return fake::CrtRead(Stream(file), buffer, size, count);
}

int FakeFeof(FILE *file) { return Stream(file)->eof; }

int FakeFerror(FILE *file) { return Stream(file)->error; }

long long FakeFtelli64(FILE *file) { return fake::Fails("_ftelli64") ? -1 : fake::CrtTell(Stream(file)); }

int FakeFseeki64(FILE *file, long long offset, int origin)
{
    if (fake::Fails("_fseeki64") || origin != SEEK_SET)
        return -1;
    return fake::CrtSeek(Stream(file), offset);
}

int FakeFclose(FILE *file)
{
    world.openFiles--;
    delete Stream(file);
    return fake::Fails("fclose") ? EOF : 0;
}
