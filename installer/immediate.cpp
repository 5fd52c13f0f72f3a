// The package's immediate custom actions, the only ones that may change the
// install's session. MsiSetMode is called from this file alone, and only
// from CheckReboot, which runs after InstallFinalize (a test reads the
// objects' symbols to hold that).
#include "reboot_mark.h"
#include "run_logged.h"

#include <msiquery.h>

// The localized name of BUILTIN\Users for the log folder's LockPermissions
// row; where it cannot be had, the row stays "Administrators" and users
// simply cannot read the log.
extern "C" __declspec(dllexport) UINT __stdcall FindUsersGroup(MSIHANDLE install)
{
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID users;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &users))
        return ERROR_SUCCESS;
    WCHAR name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(NULL, users, name, &nameSize, domain, &domainSize, &use))
        MsiSetPropertyW(install, L"UsersGroup", name);
    else
        LogLine(install, "quillset: the Users group has no name here: only administrators may read quillset.log");
    FreeSid(users);
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall CheckReboot(MSIHANDLE install)
{
    if (RebootMarked()) {
        LogLine(install, "quillset: the controller restarts at the next reboot: the install asks for one (3010)");
        MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
    }
    return ERROR_SUCCESS;
}
