#include <stdio.h>

#include "job.h"

char SmEnableChar;
char SdHostChar;

static const int SkippedBytes = 9;

// The file is read in binary mode: text mode's position, which the skip
// relies on, is one byte past after a CR LF that its buffer fills split. A
// CR LF is one LF for the ID and the value, as in text mode; for the scan
// itself it makes no difference, since neither byte is a colon.
static int ReadCharacter(FILE *file, long long *offset)
{
    int c = fgetc(file);
    if (c == EOF)
        return EOF;
    ++*offset;
    if (c == '\r') {
        int next = fgetc(file);
        if (next == '\n') {
            ++*offset;
            return next;
        }
        ungetc(next, file);
    }
    return c;
}

int ScanSettings(FILE *file, SettingsEntryProc onEntry, void *context)
{
    long long offset = 0;
    int found = 0;
    // A failing read need not ever reach the end of the file.
    while (!feof(file) && !ferror(file)) {
        int c = fgetc(file);
        offset += c != EOF;
        if (c != ':')
            continue;

        int id = ReadCharacter(file, &offset);
        DebugTrace(1, "ID Param: %c \n", id);
        long long idEnd = offset;

        int value = NoEntryValue;
        if (id == '1' || id == '2') {
            // Bytes of the file, so a CR LF among them counts as two.
            char skipped[SkippedBytes];
            offset += fread(skipped, 1, SkippedBytes, file);
            value = ReadCharacter(file, &offset);
            if (ferror(file))
                break;
            // Entries after the ID '2' entry are only ever seen by a tool.
            if (id == '1') {
                DebugTrace(1, "SMEnable Value: %c \n", value);
                if (!found)
                    SmEnableChar = (char)value;
            } else {
                DebugTrace(1, "SdHost Value: %c \n", value);
                if (!found)
                    SdHostChar = (char)value;
                found = 1;
            }
        }

        if (onEntry != NULL ? !onEntry(context, id, idEnd, value) : found)
            break;
    }
    if (ferror(file)) {
        DebugTrace(1, "%s", MsgFileUnreadable);
        return 0;
    }
    return found;
}

// What a text reader would misread, the runtime's and ours alike: neither
// knows UTF-16, only a CR LF is a line end, and Ctrl-Z ends the runtime's
// text where ours goes on. Without them both read the same characters.
enum ByteFinding { BytesFine, BytesUtf16, BytesBareLf, BytesCtrlZ, BytesUnreadable };

static ByteFinding ExamineBytes(FILE *file)
{
    unsigned char chunk[4096];
    int previous = -1, bareLf = 0, ctrlZ = 0;
    size_t count;
    for (int first = 1; (count = fread(chunk, 1, sizeof chunk, file)) > 0; first = 0) {
        if (first && count >= 2 &&
            ((chunk[0] == 0xFF && chunk[1] == 0xFE) || (chunk[0] == 0xFE && chunk[1] == 0xFF)))
            return BytesUtf16;
        for (size_t i = 0; i < count; i++) {
            if (chunk[i] == '\n' && previous != '\r')
                bareLf = 1;
            else if (chunk[i] == 0x1A)
                ctrlZ = 1;
            previous = chunk[i];
        }
    }
    if (ferror(file))
        return BytesUnreadable;
    return bareLf ? BytesBareLf : ctrlZ ? BytesCtrlZ : BytesFine;
}

const char *SettingsBytesRefusal(FILE *bytes)
{
    static const char *const messages[] = {
        NULL,
        MsgFileUtf16,
        MsgFileBareLf,
        MsgFileCtrlZ,
        MsgFileUnreadable,
    };
    return messages[ExamineBytes(bytes)];
}

const char *SettingsFileRefusal(const char *name)
{
    // A second view of the file, read to its end before the scan begins.
    FILE *file = fopen(name, "rb");
    if (file == NULL)
        return MsgFileUnreadable;
    const char *refusal = SettingsBytesRefusal(file);
    fclose(file);
    return refusal;
}

DWORD SmEnableFromChar(char c)
{
    // Anything but an explicit '0' leaves SM enabled, the driver's default.
    return c == '0' ? 0 : 1;
}

DWORD SdSwitchFromChar(char c)
{
    switch (c) {
    case '1': return 1;
    case '2': return 2;
    case '3': return 3;
    default: return 0;
    }
}

int ReadConfigFile(void)
{
    char currentDirectory[MAX_PATH] = "";
    char windowsDirectory[MAX_PATH];
    char settingsDirectory[MAX_PATH];

    // A directory too long for the buffer is reported as empty, never as
    // whatever the buffer held.
    DWORD length = GetCurrentDirectoryA(MAX_PATH, currentDirectory);
    if (length == 0 || length >= MAX_PATH)
        currentDirectory[0] = '\0';
    DebugTrace(1, "CurrentDirectory: %s  \n", currentDirectory);

    length = GetWindowsDirectoryA(windowsDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        DebugTrace(1, "%s", MsgNoWindowsDirectory);
        return 0;
    }
    DebugTrace(1, "WindowsDirectory is: %s  \n", windowsDirectory);

    // A cut path could name another directory, so a long one is refused.
    int pathLength = snprintf(settingsDirectory, MAX_PATH, "%s\\kvinst", windowsDirectory);
    if (pathLength < 0 || pathLength >= MAX_PATH) {
        DebugTrace(1, "The FullPath is too long: %s\\kvinst  \n", windowsDirectory);
        return 0;
    }
    DebugTrace(1, "The FullPath is: %s  \n", settingsDirectory);

    // The settings directory stays current after the job, as installers expect.
    if (!SetCurrentDirectoryA(settingsDirectory)) {
        DebugTrace(1, "%s", MsgNoSettingsDirectory);
        return 0;
    }
    DebugTrace(1, "Current Directory set to %s  \n", settingsDirectory);

    FILE *file = fopen("kvconfig.txt", "rb");
    if (file == NULL) {
        OutputDebugStringA(MsgFileNotOpened);
        return 0;
    }
    OutputDebugStringA(MsgFileOpened);

    int found = 0;
    const char *refusal = SettingsFileRefusal("kvconfig.txt");
    if (refusal != NULL)
        OutputDebugStringA(refusal);
    else
        found = ScanSettings(file, NULL, NULL);

    if (fclose(file) != 0)
        OutputDebugStringA(MsgFileNotClosed);
    else
        OutputDebugStringA(MsgFileClosed);
    return found;
}
