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
    if (get == NULL || set == NULL)
        return 0;
    DWORD flags;
    if (!reinterpret_cast<GetPolicyProc>(reinterpret_cast<void (*)(void)>(get))(&flags))
        return 0;
    SetPolicyProc setPolicy = reinterpret_cast<SetPolicyProc>(reinterpret_cast<void (*)(void)>(set));
    return setPolicy(flags & ~CallbackFilterEnabled) != 0;
}
