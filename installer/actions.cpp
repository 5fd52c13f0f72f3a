// The package's deferred custom actions: each runs one of the tools from
// the installed folder and turns its exit code into the install's result.
// A deferred action may not call MsiSetMode (it runs in a script, as SYSTEM,
// apart from the install's session); it leaves a reboot mark instead, which
// the immediate CheckReboot (immediate.cpp) reads after the script.
#include "reboot_mark.h"
#include "run_logged.h"

#include <msiquery.h>
#include <stdio.h>

// qscheck --write: the install fails unless the file was written.
extern "C" __declspec(dllexport) UINT __stdcall WriteSettings(MSIHANDLE install)
{
    DWORD code;
    if (!RunLogged(install, &code))
        return ERROR_INSTALL_FAILURE;
    if (code == 0)
        return ERROR_SUCCESS;
    char text[120];
    snprintf(text, sizeof text, "quillset: qscheck --write exit code %lu: settings file not written, the install fails", code);
    LogLine(install, text);
    return ERROR_INSTALL_FAILURE;
}

// qscapture --outcome: 0 and 3 succeed (3 leaves the restart to the next
// boot, which applies the stored values anyway), so does 7 (a controller
// disabled on purpose, left so: the values apply when it is enabled), 3010
// asks for a reboot,
// 4 succeeds because quillset runs on and a rollback would pull its files
// from under it; a controller left disabled (5) or not running (6) fails
// the install, as does anything else.
extern "C" __declspec(dllexport) UINT __stdcall ApplySettings(MSIHANDLE install)
{
    // A mark that an earlier install left must not ask for a reboot now.
    if (!ClearRebootMark())
        LogLine(install, "quillset: an earlier reboot mark cannot be cleared: the install may ask for a reboot that this run does not need");
    DWORD code;
    if (!RunLogged(install, &code))
        return ERROR_INSTALL_FAILURE;
    const char *result;
    UINT status = ERROR_SUCCESS;
    if (code == 0) {
        result = "settings applied";
    } else if (code == 3) {
        result = "values stored, controller not restarted: a reboot applies them, the install succeeds";
    } else if (code == 7) {
        result = "values stored, the controller is disabled and left so: they apply when it is enabled, the install succeeds";
    } else if (code == 3010) {
        result = "values stored, the controller restarts at the next reboot: the install asks for a reboot";
        if (!SetRebootMark())
            LogLine(install, "quillset: the reboot could not be recorded: the install ends without asking for one, reboot to apply the settings");
    } else if (code == 4) {
        result = "quillset goes on without the installer: the install succeeds; read SMEnable and SDSwitch later to learn what it applied";
    } else if (code == 5) {
        result = "values written, controller left disabled: enable it in Device Manager; the install fails and rolls back";
        status = ERROR_INSTALL_FAILURE;
    } else if (code == 6) {
        result = "values written, controller does not run (its problem code is in quillset's messages above): the install fails and rolls back";
        status = ERROR_INSTALL_FAILURE;
    } else {
        result = "settings not applied: the install fails and rolls back";
        status = ERROR_INSTALL_FAILURE;
    }
    char text[200];
    snprintf(text, sizeof text, "quillset outcome %lu: %s", code, result);
    LogLine(install, text);
    return status;
}
