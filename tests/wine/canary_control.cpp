// The positive control for the canary: a window made as quillset makes its
// own, without restricting the DLL search, so a canary beside it loads.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "canary_control";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("canary_control", "canary control", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, NULL, NULL, instance, NULL);
    if (window != NULL)
        DestroyWindow(window);
    return 0;
}
