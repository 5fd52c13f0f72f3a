#include "exception_policy.h"

#include <windows.h>

typedef BOOL(WINAPI *GetPolicyProc)(DWORD *flags);
typedef BOOL(WINAPI *SetPolicyProc)(DWORD flags);

// While set, Windows filters exceptions out of kernel callbacks.
static const DWORD CallbackFilterEnabled = 0x1; // PROCESS_CALLBACK_FILTER_ENABLED

int LetCallbackExceptionsEndProcess(void)
{
    // Looked up at run time, as older Windows lack them. kernel32 is
    // always loaded.
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC get = GetProcAddress(kernel32, "GetProcessUserModeExceptionPolicy");
    FARPROC set = GetProcAddress(kernel32, "SetProcessUserModeExceptionPolicy");
    DWORD flags;
    if (get == NULL || set == NULL ||
        !reinterpret_cast<GetPolicyProc>(reinterpret_cast<void (*)(void)>(get))(&flags))
        return 0;
    return reinterpret_cast<SetPolicyProc>(reinterpret_cast<void (*)(void)>(set))(flags & ~CallbackFilterEnabled) != 0;
}
