// Host stand-in for the slice of <aclapi.h> (and of the SID calls) the job uses.
#ifndef FAKEWIN_ACLAPI_H
#define FAKEWIN_ACLAPI_H

#include "windows.h"

enum SE_OBJECT_TYPE { SE_KERNEL_OBJECT = 6 };
enum WELL_KNOWN_SID_TYPE { WinLocalSystemSid = 22, WinBuiltinAdministratorsSid = 26 };
#define OWNER_SECURITY_INFORMATION 1

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, DWORD information, PSID *owner, PSID *group, void **dacl,
                      void **sacl, PSECURITY_DESCRIPTOR *descriptor);
BOOL IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type);

#endif
