// The mark that ApplySettings (deferred, as LocalSystem) leaves when the
// settings wait for a reboot, and that CheckReboot (immediate, after the
// script) turns into 3010: the value RebootPending under
// HKLM\SOFTWARE\quillset, a key that the package's Registry table creates
// and its removal deletes with all its values. Not a global atom, as WiX's
// WixCheckRebootRequired uses: atoms belong to a window station, and Windows
// Installer does not say that an immediate action, run as the installing
// user, shares one with a deferred action run as LocalSystem. That user may
// read HKLM but not write it, so CheckReboot only reads, and ApplySettings
// clears the mark before each run.
#ifndef QUILLSET_REBOOT_MARK_H
#define QUILLSET_REBOOT_MARK_H

// Returns 1 when the mark is set.
int SetRebootMark();

// Returns 1 when there is no mark afterwards.
int ClearRebootMark();

// Returns 1 when the mark is there.
int RebootMarked();

#endif
