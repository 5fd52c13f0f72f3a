#include "dll_search.h"

#include <windows.h>

typedef BOOL(WINAPI *SetDefaultDllDirectoriesProc)(DWORD flags);

int LimitDllSearch(void)
{
    // Looked up at run time: imported, it would keep the exe from loading
    // at all on XP, Vista and an unpatched 7.
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel32 != NULL ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : NULL;
    if (proc != NULL) {
        SetDefaultDllDirectoriesProc setDefaultDllDirectories =
            reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void (*)(void)>(proc));
        if (setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
            return 1;
    }
    // All older Windows offer: the current directory out of the search.
    SetDllDirectoryA("");
    return 0;
}
