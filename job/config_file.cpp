#include <stdio.h>

#include "job.h"

char SmEnableChar;
char SdHostChar;

static const char ReadErrorMessage[] = "Error reading the file 'kvconfig.txt' \n";

// Moves past the nine unexamined bytes after an ID and reads the value. The
// bytes are counted in the file, so a CR LF among them counts as two.
// Returns 0 when the stream cannot be positioned or read.
static int ReadEntryValue(FILE *file, long long idEnd, int *value)
{
    if (_fseeki64(file, idEnd + 9, SEEK_SET) != 0)
        return 0;
    *value = fgetc(file);
    return !ferror(file);
}

int ScanSettings(FILE *file, SettingsEntryProc onEntry, void *context)
{
    int found = 0;
    while (!feof(file)) {
        // A failing read need not ever reach the end of the file.
        if (ferror(file)) {
            DebugTrace(1, "%s", ReadErrorMessage);
            return 0;
        }
        if (fgetc(file) != ':')
            continue;

        int id = fgetc(file);
        DebugTrace(1, "ID Param: %c \n", id);
        int isSetting = id == '1' || id == '2';
        // Text mode pays for a position with a look through its buffer, so
        // only where it is used.
        long long idEnd = -1;
        if (isSetting || onEntry != NULL) {
            idEnd = _ftelli64(file);
            if (idEnd < 0) {
                DebugTrace(1, "%s", ReadErrorMessage);
                return 0;
            }
        }

        int value = NoEntryValue;
        if (isSetting) {
            if (!ReadEntryValue(file, idEnd, &value)) {
                DebugTrace(1, "%s", ReadErrorMessage);
                return 0;
            }
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
    return found;
}

// What the runtime's text mode would misread: it has no notion of UTF-16,
// takes every LF it buffers for a CR LF when it reports the position, and
// treats Ctrl-Z as the end of the text.
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
        "The file 'kvconfig.txt' is UTF-16 text: save it as ANSI text \n",
        "The file 'kvconfig.txt' has a line end without CR: save it with CR LF line ends \n",
        "The file 'kvconfig.txt' holds a Ctrl-Z byte: remove it \n",
        ReadErrorMessage,
    };
    return messages[ExamineBytes(bytes)];
}

const char *SettingsFileRefusal(const char *name)
{
    // A second, binary view of the file: the text-mode stream cannot show
    // the bytes as they are on disk.
    FILE *file = fopen(name, "rb");
    if (file == NULL)
        return ReadErrorMessage;
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
        DebugTrace(1, "Error getting WindowsDirectory \n");
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
        DebugTrace(1, "Set CurrentDirectory failed! \n");
        return 0;
    }
    DebugTrace(1, "Current Directory set to %s  \n", settingsDirectory);

    FILE *file = fopen("kvconfig.txt", "r");
    if (file == NULL) {
        OutputDebugStringA("The file 'kvconfig.txt' could not be opened \n");
        return 0;
    }
    OutputDebugStringA("The file 'kvconfig.txt' was opened sucessfully \n");

    int found = 0;
    const char *refusal = SettingsFileRefusal("kvconfig.txt");
    if (refusal != NULL)
        OutputDebugStringA(refusal);
    else
        found = ScanSettings(file, NULL, NULL);

    if (fclose(file) != 0)
        OutputDebugStringA("The file 'kvconfig.txt' could not be closed \n");
    else
        OutputDebugStringA("The file 'kvconfig.txt' was closed successfully! \n");
    return found;
}
