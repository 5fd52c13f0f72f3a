// qsdevreg: registers and removes stand-in devices, so that a machine without
// the card controller can show what quillset does when it finds one.
#include <stdio.h>

#include "device_registrar.h"
#include "dll_search.h"

static const char Usage[] =
    "usage: qsdevreg add <hardware-id> [<hardware-id>...]\n"
    "       qsdevreg remove <hardware-id-prefix>\n"
    "\n"
    "add registers one root-enumerated device per hardware ID, with no driver,\n"
    "and prints each device's instance ID.\n"
    "remove removes every stand-in that add registered (instance ID\n"
    "ROOT\\QUILLSET_STANDIN\\...) whose first hardware ID starts with the prefix\n"
    "(case-sensitive, not empty) and prints how many it removed; it never\n"
    "touches any other device.\n"
    "Both need administrator rights on Windows.\n";

static int AddDevices(int count, char **ids)
{
    for (int i = 0; i < count; i++) {
        // One ID, as a list of one.
        char list[1024 + 2];
        int length = lstrlenA(ids[i]);
        if (length == 0 || length >= 1024) {
            fprintf(stderr, "qsdevreg: hardware ID must be 1 to 1023 characters: \"%s\"\n", ids[i]);
            return 1;
        }
        lstrcpyA(list, ids[i]);
        list[length + 1] = '\0';

        char instanceId[InstanceIdSize];
        if (!RegisterStandInDevice(list, instanceId, sizeof instanceId)) {
            fprintf(stderr, "qsdevreg: cannot register %s: error %lu\n", ids[i], GetLastError());
            return 1;
        }
        printf("%s  %s\n", instanceId, ids[i]);
    }
    return 0;
}

int main(int argc, char **argv)
{
    // Runs elevated: no DLL from beside the exe or the current directory.
    LimitDllSearch();
    if (argc >= 3 && lstrcmpA(argv[1], "add") == 0)
        return AddDevices(argc - 2, argv + 2);

    if (argc == 3 && lstrcmpA(argv[1], "remove") == 0) {
        if (argv[2][0] == '\0') {
            fputs("qsdevreg: the hardware-ID prefix must not be empty\n", stderr);
            return 2;
        }
        int removed = RemoveStandInsByHardwareId(argv[2]);
        if (removed < 0) {
            fprintf(stderr, "qsdevreg: cannot remove devices: error %lu\n", GetLastError());
            return 1;
        }
        printf("removed %d device(s)\n", removed);
        return 0;
    }

    fputs(Usage, stderr);
    return 2;
}
