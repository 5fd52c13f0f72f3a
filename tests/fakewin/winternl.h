// Host stand-in for the slice of <winternl.h> (ntdll's calls) the tools use.
#ifndef FAKEWIN_WINTERNL_H
#define FAKEWIN_WINTERNL_H

#include "windows.h"

#define NTAPI
typedef LONG NTSTATUS;
typedef DWORD ULONG;
typedef DWORD ACCESS_MASK;
typedef long long LARGE_INTEGER;
typedef struct {
    USHORT Length;          // in bytes, without a terminating NUL
    USHORT MaximumLength;
    WCHAR *Buffer;
} UNICODE_STRING;
typedef struct {
    ULONG Length;
    HANDLE RootDirectory;
    UNICODE_STRING *ObjectName;
    ULONG Attributes;
    void *SecurityDescriptor;
    void *SecurityQualityOfService;
} OBJECT_ATTRIBUTES;
typedef struct {
    NTSTATUS Status;
    ULONG_PTR Information;
} IO_STATUS_BLOCK;

#define OBJ_CASE_INSENSITIVE 0x40
#define FILE_OPEN_IF 3
#define FILE_SYNCHRONOUS_IO_NONALERT 0x20
#define FILE_NON_DIRECTORY_FILE 0x40
#define FILE_OPEN_REPARSE_POINT 0x200000

#endif
