#ifndef QUILLSET_MAIN_WINDOW_H
#define QUILLSET_MAIN_WINDOW_H

#include <windows.h>

#include "resource.h"

extern char WindowTitle[MAX_LOADSTRING];
extern char WindowClassName[MAX_LOADSTRING];
// Set when the window's creation message has started the job.
extern int JobStarted;

int RegisterMainWindowClass(HINSTANCE instance);
int CreateMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
