// Host stand-in for the slice of <cfgmgr32.h> the job uses.
#ifndef FAKEWIN_CFGMGR32_H
#define FAKEWIN_CFGMGR32_H

#include "windows.h"

typedef DWORD CONFIGRET;
typedef DWORD DEVINST;
typedef DWORD ULONG;

#define MAX_DEVICE_ID_LEN 200
#define CR_SUCCESS 0x0
#define CR_FAILURE 0x13
#define DN_DRIVER_LOADED 0x2
#define DN_STARTED 0x8
#define DN_HAS_PROBLEM 0x400
#define CM_PROB_FAILED_START 0xA
#define CM_PROB_NEED_RESTART 0xE
#define CM_PROB_DISABLED 0x16

CONFIGRET CM_Get_DevNode_Status(ULONG *status, ULONG *problem, DEVINST devInst, ULONG flags);

#endif
