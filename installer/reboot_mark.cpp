#include "reboot_mark.h"

#include <windows.h>

static const char RebootAtom[] = "quillset: the settings wait for a reboot";

int SetRebootMark()
{
    return GlobalAddAtomA(RebootAtom) != 0;
}

int TakeRebootMark()
{
    // Each GlobalAddAtom counts once; a bound keeps a stuck table from looping.
    int found = 0;
    for (int i = 0; i < 64; i++) {
        ATOM atom = GlobalFindAtomA(RebootAtom);
        if (atom == 0)
            break;
        found = 1;
        GlobalDeleteAtom(atom);
    }
    return found;
}
