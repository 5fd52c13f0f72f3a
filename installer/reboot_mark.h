// The mark a deferred action leaves when the settings wait for a reboot: a
// global atom, as WiX's WixCheckRebootRequired uses. Global atoms live in
// the window station, which the custom-action processes that the installer
// service starts share, the deferred one as SYSTEM and the immediate one
// alike. A value under HKLM would not do: an immediate action may run as
// the installing user, who can read it but not remove it.
#ifndef QUILLSET_REBOOT_MARK_H
#define QUILLSET_REBOOT_MARK_H

// Returns 1 when the mark is set.
int SetRebootMark();

// Removes the mark; returns 1 when there was one.
int TakeRebootMark();

#endif
