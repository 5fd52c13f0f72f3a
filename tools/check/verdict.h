// qscheck --verify: whether a machine still has the settings that quillset
// would apply from its file. The verdict is composed without the machine, so
// host tests link it too, as they do the readings, against the stand-in.
#ifndef QUILLSET_VERDICT_H
#define QUILLSET_VERDICT_H

#include <stddef.h>
#include <wchar.h>

#include "job.h"

// The settings file, read as quillset reads it.
enum FileReading {
    FileRead,            // want holds what quillset would write
    FileMissing,         // no such file or folder
    FileDenied,          // it may not be opened (or is a folder)
    FileNotOpened,       // it cannot be opened for another reason
    FileUtf16,           // refused by quillset, as UTF-16 text
    FileBareLf,          // refused: a line feed without CR
    FileCtrlZ,           // refused: a Ctrl-Z byte
    FileUnreadable,      // a read failed
    FileNoId2,           // no ID '2' entry: quillset writes nothing
    FileNoWindowsFolder, // the default file cannot be named
};

// The driver's Parameters key.
enum KeyReading {
    KeyOpened,       // values[] were read
    KeyNoDriver,     // not even the kvcard service key: the driver is not installed
    KeyNoParameters, // the service key without its Parameters key
    KeyAccessDenied, // the key may not be read
    KeyError,        // another error, in keyError
};

// A value under the key: REG_DWORD data, or why there is none.
enum ValueReading { ValueDword, ValueMissing, ValueNotDword };

// Index 0 is SMEnable, 1 SDSwitch.
struct VerifyReadings {
    FileReading file;
    DWORD want[2];
    KeyReading key;
    DWORD keyError;
    ValueReading values[2];
    DWORD data[2];
    DeviceState controller;
    DWORD problem;
    const wchar_t *path; // as given, or the default
    int controllerRecorded; // the record names the controller as the one quillset disabled
    int runRead;            // the record of the last run (job.h) was there, in run
    RunRecord run;
    ULONGLONG now;          // UTC, as a FILETIME
    ULONGLONG uptimeMs;     // since the machine started
    int uptimeWraps;        // uptimeMs has 32 bits (no GetTickCount64: XP, Server 2003)
};

const int VerifyNoIssue = 0; // in line, or not applicable
const int VerifyIssue = 1;   // drift, or cannot tell

// Intune keeps this much of a detection's output: the line and its CR LF.
const size_t VerdictLimit = 2048;
const size_t VerdictLineChars = VerdictLimit - 2;

// Writes the verdict to line (VerdictLineChars + 1 characters, no line end);
// at most VerdictLineChars bytes in UTF-8, a path that does not fit cut and
// ended with "...". Returns the exit code.
int ComposeVerdict(const VerifyReadings *readings, wchar_t *line);

// Reads the file (NULL: the default one could not be named), the values, the
// controller, quillset's record and the clock of this machine (verify.cpp).
void ReadVerifyReadings(const wchar_t *path, VerifyReadings *readings);

#endif
