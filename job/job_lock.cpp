// One quillset at a time: two runs would interleave their disable and enable
// passes on the same controller, and each would report the other's work.
#include "job.h"

#include <aclapi.h>
#include <sddl.h>

static const char LockName[] = "Global\\quillset";
// Owned by Administrators, open to SYSTEM and Administrators only. A run
// without administrator rights can neither make it so nor open it.
static const char LockSecurity[] = "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Any user may make a mutex of this name first, and hold it for ever; only
// one that SYSTEM or Administrators own can be another run's.
static int OwnedByAdministrators(HANDLE lock)
{
    PSID owner;
    PSECURITY_DESCRIPTOR descriptor;
    if (GetSecurityInfo(lock, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL,
                        &descriptor) != ERROR_SUCCESS)
        return 0;
    int trusted = IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid);
    LocalFree(descriptor);
    return trusted;
}

HANDLE TakeJobLock(void)
{
    HANDLE lock = NULL;
    DWORD error = ERROR_SUCCESS;
    PSECURITY_DESCRIPTOR descriptor;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(LockSecurity, SDDL_REVISION_1, &descriptor, NULL)) {
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        lock = CreateMutexA(&attributes, TRUE, LockName);
        error = GetLastError();
        LocalFree(descriptor);
    }
    if (lock != NULL && error != ERROR_ALREADY_EXISTS)
        return lock;

    if (lock != NULL && OwnedByAdministrators(lock)) {
        DWORD waited = WaitForSingleObject(lock, 0);
        if (waited == WAIT_TIMEOUT) {
            OutputDebugStringA(MsgLockWait);
            waited = WaitForSingleObject(lock, INFINITE);
        }
        // Abandoned by a run that was killed: ours now all the same.
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
            return lock;
    }
    // Refusing to run would hand the squatter what it wants.
    if (lock != NULL)
        CloseHandle(lock);
    OutputDebugStringA(MsgLockUnusable);
    return NULL;
}

void ReleaseJobLock(HANDLE lock)
{
    if (lock == NULL)
        return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}
