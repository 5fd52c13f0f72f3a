#include "dll_search.h"
#include "exception_policy.h"
#include "main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    // Started elevated from a download folder, a DLL planted beside the exe
    // must not load.
    LimitDllSearch();
    // A crash in the job must end the run, not hang it: the lock is then
    // abandoned, which the next run takes over.
    LetCallbackExceptionsEndProcess();
    LoadStringA(instance, IDS_APP_TITLE, WindowTitle, MAX_LOADSTRING);
    LoadStringA(instance, IDC_QUILLSET, WindowClassName, MAX_LOADSTRING);

    // Windows reports no window when it is destroyed within its own
    // creation, as this one is once the job has run; only a window whose
    // job never started is a failure, and it must not pass unseen.
    if (!RegisterMainWindowClass(instance) || !CreateMainWindow(instance, showCommand)) {
        DWORD error = GetLastError();
        if (!JobStarted) {
            char message[64];
            wsprintfA(message, "quillset could not create its window, error %lu \n", error);
            OutputDebugStringA(message);
        }
        return 0;
    }

    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_QUILLSET));
    MSG message;
    message.wParam = 0;
    while (GetMessageA(&message, NULL, 0, 0)) {
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
