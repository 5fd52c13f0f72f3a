// qscheck --write without the file system: its arguments, and the settings
// file they make. Plain C++ and wide strings, so host tests link it too.
#ifndef QUILLSET_SETTINGS_TEXT_H
#define QUILLSET_SETTINGS_TEXT_H

#include <stddef.h>
#include <wchar.h>

enum WriteArgsFault { ArgsFine, UnknownSetting, ValueOutOfRange, SettingTwice, SettingMissing, SecondFile };

struct WriteArgs {
    int smEnable, sdSwitch; // -1 until given
    const wchar_t *file;    // NULL: the default file
    WriteArgsFault fault;
    int faultIndex;         // the argument at fault; for SettingMissing 0 SMEnable, 1 SDSwitch
};

// Reads the arguments after --write: SMEnable=<0|1> and SDSwitch=<0-3>, in
// any order, names in any case, and at most one file. Returns 1 when both
// settings are given once and in range, else 0 with the first fault found.
int ParseWriteArgs(int count, const wchar_t *const *args, WriteArgs *parsed);

// The settings file for the two values: ANSI text with CR LF line ends, a
// comment line before each entry. Returns 0 when size is too small.
int SettingsFileText(int smEnable, int sdSwitch, char *text, size_t size, size_t *length);

#endif
