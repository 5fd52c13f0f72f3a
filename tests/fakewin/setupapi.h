// Host stand-in for the slice of <setupapi.h> the job uses.
#ifndef FAKEWIN_SETUPAPI_H
#define FAKEWIN_SETUPAPI_H

#include "windows.h"

typedef void *HDEVINFO;
typedef DWORD DI_FUNCTION;

typedef struct {
    DWORD Data1;
    unsigned short Data2, Data3;
    BYTE Data4[8];
} GUID;

typedef struct {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA;

typedef struct {
    DWORD cbSize;
    DI_FUNCTION InstallFunction;
} SP_CLASSINSTALL_HEADER;

typedef struct {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    DWORD StateChange;
    DWORD Scope;
    DWORD HwProfile;
} SP_PROPCHANGE_PARAMS;

typedef struct {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    void *hwndParent;
    void *InstallMsgHandler;
    void *InstallMsgHandlerContext;
    void *FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    char DriverPath[MAX_PATH];
} SP_DEVINSTALL_PARAMS_A;

#define ERROR_NO_SUCH_DEVINST 0xE000020B
#define DI_NEEDRESTART 0x80
#define DI_NEEDREBOOT 0x100
#define DIGCF_PRESENT 0x2
#define DIGCF_ALLCLASSES 0x4
#define SPDRP_HARDWAREID 0x1
#define DIF_PROPERTYCHANGE 0x12
#define DICS_ENABLE 1
#define DICS_DISABLE 2
#define DICS_FLAG_GLOBAL 1
#define DICS_FLAG_CONFIGSPECIFIC 2

HDEVINFO SetupDiGetClassDevsA(const GUID *classGuid, const char *enumerator, void *parent, DWORD flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA *device);
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA *device, DWORD property, DWORD *type,
                                       BYTE *buffer, DWORD size, DWORD *required);
BOOL SetupDiSetClassInstallParamsA(HDEVINFO set, SP_DEVINFO_DATA *device, SP_CLASSINSTALL_HEADER *params,
                                   DWORD size);
BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA *device);
BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, SP_DEVINFO_DATA *device, char *id, DWORD size, DWORD *required);
BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO set, SP_DEVINFO_DATA *device, SP_DEVINSTALL_PARAMS_A *params);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

#endif
