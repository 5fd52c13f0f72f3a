#include "open_in_folder.h"

#include <winternl.h>

typedef NTSTATUS(NTAPI *NtCreateFileCall)(HANDLE *, ACCESS_MASK, OBJECT_ATTRIBUTES *, IO_STATUS_BLOCK *,
                                          LARGE_INTEGER *, ULONG, ULONG, ULONG, ULONG, void *, ULONG);
typedef ULONG(NTAPI *StatusToErrorCall)(NTSTATUS);

HANDLE AppendInFolder(HANDLE folder, const WCHAR *name)
{
    // ntdll is in every process from its start and exports both on every
    // supported Windows, but the exes import from the documented DLLs only.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    FARPROC createProc = ntdll != NULL ? GetProcAddress(ntdll, "NtCreateFile") : NULL;
    FARPROC toErrorProc = ntdll != NULL ? GetProcAddress(ntdll, "RtlNtStatusToDosError") : NULL;
    if (createProc == NULL || toErrorProc == NULL) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    NtCreateFileCall create = reinterpret_cast<NtCreateFileCall>(reinterpret_cast<void (*)(void)>(createProc));
    StatusToErrorCall toError = reinterpret_cast<StatusToErrorCall>(reinterpret_cast<void (*)(void)>(toErrorProc));
    // A counted string, in bytes, without the terminating NUL.
    DWORD bytes = static_cast<DWORD>(lstrlenW(name)) * sizeof(WCHAR);
    if (bytes > 0xFFFE) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    UNICODE_STRING objectName;
    objectName.Length = objectName.MaximumLength = static_cast<USHORT>(bytes);
    objectName.Buffer = const_cast<WCHAR *>(name);
    OBJECT_ATTRIBUTES attributes;
    ZeroMemory(&attributes, sizeof attributes);
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &objectName;
    // Names match as CreateFileW matches them.
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    // What CreateFileW asks for besides: SYNCHRONIZE, for writes that
    // complete before they return.
    IO_STATUS_BLOCK io;
    HANDLE file = NULL;
    NTSTATUS status = create(&file, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io, NULL,
                             FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                             FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, NULL, 0);
    if (status < 0) {
        SetLastError(toError(status));
        return NULL;
    }
    return file;
}
