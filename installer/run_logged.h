// Child processes of the custom actions, with their output in the MSI log.
#ifndef QUILLSET_RUN_LOGGED_H
#define QUILLSET_RUN_LOGGED_H

#include <windows.h>
#include <msi.h>

// Writes one line to the MSI log (INSTALLMESSAGE_INFO), brackets and braces
// escaped so that Windows Installer does not expand them as properties.
void LogLine(MSIHANDLE install, const char *text);

// Runs the command line held in CustomActionData without a window, copies
// each line of its standard output and error into the MSI log, waits for it
// and stores its exit code. Returns 0 (after logging why) when it could not
// be started.
int RunLogged(MSIHANDLE install, DWORD *exitCode);

#endif
