// Host stand-in for the slice of <windows.h> the job uses. The calls are
// served by fakewin.cpp from a scriptable world (fakewin.h).
#ifndef FAKEWIN_WINDOWS_H
#define FAKEWIN_WINDOWS_H

#include <stdint.h>
#include <string.h>

#define WINAPI
#define CALLBACK
#define MAX_PATH 260

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short USHORT;
typedef char16_t WCHAR;   // two bytes, as on Windows
typedef unsigned int DWORD;
typedef unsigned long long ULONGLONG;
typedef int LONG;
typedef uintptr_t ULONG_PTR;
typedef void *HANDLE;
typedef void *HLOCAL;
typedef struct HKEY__ *HKEY;
typedef struct HMODULE__ *HMODULE;
typedef intptr_t (*FARPROC)(void);
typedef DWORD REGSAM;
typedef void *PSID;
typedef void *PSECURITY_DESCRIPTOR;
typedef struct {
    DWORD nLength;
    void *lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES;
typedef struct {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

#define TRUE 1
#define FALSE 0

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_ACCESS_DENIED 5
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_MORE_DATA 234
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_INVALID_USER_BUFFER 1784

#define WAIT_OBJECT_0 0
#define WAIT_ABANDONED 0x80
#define WAIT_TIMEOUT 258
#define WAIT_FAILED 0xFFFFFFFF
#define INFINITE 0xFFFFFFFF

#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)
#define KEY_QUERY_VALUE 0x1
#define KEY_SET_VALUE 0x2
#define KEY_WRITE 0x20006
#define KEY_WOW64_64KEY 0x100
#define KEY_ALL_ACCESS 0xF003F
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_QWORD 11

#define LMEM_ZEROINIT 0x40
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define FILE_APPEND_DATA 0x4
#define FILE_READ_ATTRIBUTES 0x80
#define SYNCHRONIZE 0x100000
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_ATTRIBUTE_NORMAL 0x80
#define ZeroMemory(p, n) memset((p), 0, (n))

DWORD GetCurrentDirectoryA(DWORD size, char *buffer);
DWORD GetWindowsDirectoryA(char *buffer, DWORD size);
BOOL SetCurrentDirectoryA(const char *path);
void OutputDebugStringA(const char *text);
void Sleep(DWORD milliseconds);
HMODULE GetModuleHandleA(const char *name);
FARPROC GetProcAddress(HMODULE module, const char *name);
BOOL SetDllDirectoryA(const char *path);
int lstrlenA(const char *text);
int lstrcmpiA(const char *a, const char *b);
void GetSystemTimeAsFileTime(FILETIME *time);
DWORD GetTickCount(void);
int lstrlenW(const WCHAR *text);
DWORD GetLastError(void);
void SetLastError(DWORD error);
HLOCAL LocalAlloc(DWORD flags, size_t size);
HLOCAL LocalFree(HLOCAL memory);
HANDLE GetCurrentProcess(void);
BOOL IsWow64Process(HANDLE process, BOOL *wow64);
HANDLE CreateMutexA(SECURITY_ATTRIBUTES *attributes, BOOL initialOwner, const char *name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL ReleaseMutex(HANDLE mutex);
BOOL CloseHandle(HANDLE handle);

LONG RegOpenKeyExA(HKEY root, const char *subkey, DWORD options, REGSAM access, HKEY *key);
LONG RegCreateKeyExA(HKEY root, const char *subkey, DWORD reserved, char *keyClass, DWORD options, REGSAM access,
                     SECURITY_ATTRIBUTES *security, HKEY *key, DWORD *disposition);
LONG RegQueryValueExA(HKEY key, const char *name, DWORD *reserved, DWORD *type, BYTE *data, DWORD *size);
LONG RegSetValueExA(HKEY key, const char *name, DWORD reserved, DWORD type, const BYTE *data, DWORD size);
LONG RegCloseKey(HKEY key);

#endif
