#include "fakewin.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <wchar.h>

#include <algorithm>

#include "aclapi.h"
#include "crt_redirect.h"
#include "crt_stream.h"
#include "sddl.h"
#include "winternl.h"

namespace fake {

const char SettingsPath[] = "C:\\windows\\kvinst\\kvconfig.txt";
static const char ServiceKey[] = "System\\CurrentControlSet\\Services\\kvcard";
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
    world.now += milliseconds * 10000ull;
    world.uptimeMs += milliseconds;
}

void GetSystemTimeAsFileTime(FILETIME *time)
{
    time->dwLowDateTime = static_cast<DWORD>(world.now);
    time->dwHighDateTime = static_cast<DWORD>(world.now >> 32);
}

// It has 32 bits and wraps after 49.7 days.
DWORD GetTickCount(void) { return static_cast<DWORD>(world.uptimeMs); }

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

int lstrcmpiA(const char *a, const char *b) { return strcasecmp(a, b); }

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

// Registry: the driver's key and quillset's record, each open handed out as
// a handle of its own that remembers the key and the access asked for.

namespace fake {

static const char RecordKey[] = "SOFTWARE\\quillset";

struct Key {
    std::map<std::string, Value> *values;
    REGSAM access;
};

static Key *Handle(HKEY key) { return reinterpret_cast<Key *>(key); }

static HKEY NewKey(std::map<std::string, Value> *values, REGSAM access)
{
    world.openKeys++;
    return reinterpret_cast<HKEY>(new Key{values, access});
}

// The record's view: WOW64 redirects HKLM\SOFTWARE unless asked not to.
static std::map<std::string, Value> *RecordView(REGSAM access)
{
    return world.wow64 && !(access & KEY_WOW64_64KEY) ? &world.record32 : &world.record;
}

}

LONG RegOpenKeyExA(HKEY root, const char *subkey, DWORD options, REGSAM access, HKEY *key)
{
    bool record = strcasecmp(subkey, fake::RecordKey) == 0, service = strcasecmp(subkey, fake::ServiceKey) == 0;
    if (!record && !service)
        world.keyOpens++;
    if (fake::Fails("RegOpenKeyExA"))
        return world.keyOpenError;
    bool exists = record ? world.recordKeyExists
                  : service ? world.serviceKeyExists
                            : strcasecmp(subkey, fake::ParametersKey) == 0 && world.keyExists &&
                                  world.now >= world.keyMadeAt;
    if (root != HKEY_LOCAL_MACHINE || !exists)
        return ERROR_FILE_NOT_FOUND;
    if (options != 0)
        return ERROR_INVALID_PARAMETER;
    if (!record && !service && (access & ~world.keyGrants))
        return ERROR_ACCESS_DENIED;
    static std::map<std::string, fake::Value> serviceValues;   // none that anyone reads
    *key = fake::NewKey(record ? fake::RecordView(access) : service ? &serviceValues : &world.values, access);
    return ERROR_SUCCESS;
}

// Only quillset's record is ever created.
LONG RegCreateKeyExA(HKEY root, const char *subkey, DWORD reserved, char *keyClass, DWORD options, REGSAM access,
                     SECURITY_ATTRIBUTES *security, HKEY *key, DWORD *)
{
    if (fake::Fails("RegCreateKeyExA"))
        return ERROR_ACCESS_DENIED;
    if (root != HKEY_LOCAL_MACHINE || strcasecmp(subkey, fake::RecordKey) != 0 || reserved != 0 || keyClass ||
        options != 0 || security)
        return ERROR_INVALID_PARAMETER;
    world.recordKeyExists = true;
    *key = fake::NewKey(fake::RecordView(access), access);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char *name, DWORD *reserved, DWORD *type, BYTE *data, DWORD *size)
{
    fake::Key *k = fake::Handle(key);
    if (fake::Fails("RegQueryValueExA") || !(k->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    auto found = k->values->find(name);
    if (reserved || found == k->values->end())
        return reserved ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
    const std::string &bytes = found->second.data;
    if (type)
        *type = found->second.type;
    if (data && *size < bytes.size()) {
        *size = bytes.size();
        return ERROR_MORE_DATA;
    }
    if (data)
        memcpy(data, bytes.data(), bytes.size());
    *size = bytes.size();
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char *name, DWORD, DWORD type, const BYTE *data, DWORD size)
{
    fake::Key *k = fake::Handle(key);
    if (fake::Fails("RegSetValueExA") || !(k->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    (*k->values)[name] = fake::Value{type, std::string(reinterpret_cast<const char *>(data), size)};
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    world.openKeys--;
    delete fake::Handle(key);
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

BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO, SP_DEVINFO_DATA *device, char *id, DWORD size, DWORD *required)
{
    const fake::Device &d = world.devices.at(device->DevInst);
    std::string text = d.instanceId.empty() ? "PCI\\STANDIN\\" + std::to_string(device->DevInst) : d.instanceId;
    if (required)
        *required = text.size() + 1;
    if (fake::Fails("SetupDiGetDeviceInstanceIdA") || size < text.size() + 1) {
        fake::lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    memcpy(id, text.c_str(), text.size() + 1);
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

// For the tools, which name files in UTF-16: ASCII names, and a missing file
// as the only reason.
FILE *FakeWfopen(const wchar_t *name, const wchar_t *mode)
{
    std::string narrowName(name, name + wcslen(name)), narrowMode(mode, mode + wcslen(mode));
    FILE *file = FakeFopen(narrowName.c_str(), narrowMode.c_str());
    if (file == NULL)
        errno = ENOENT;
    return file;
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
