#include <stdio.h>

#include "job.h"

char SmEnableChar;
char SdHostChar;

// Moves past the nine unexamined bytes after an ID and reads the value. The
// bytes are counted in the file, so a CR LF among them counts as two.
// Returns 0 when the stream cannot be positioned or read.
static int ReadEntryValue(FILE *file, int *value)
{
    long long position = _ftelli64(file);
    if (position < 0 || _fseeki64(file, position + 9, SEEK_SET) != 0)
        return 0;
    *value = fgetc(file);
    return !ferror(file);
}

static const char ReadErrorMessage[] = "Error reading the file 'kvconfig.txt' \n";

// Scans for entries up to the one with ID '2'; returns 1 when it was found.
static int ScanEntries(FILE *file)
{
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
        if (id != '1' && id != '2')
            continue;

        int value;
        if (!ReadEntryValue(file, &value)) {
            DebugTrace(1, "%s", ReadErrorMessage);
            return 0;
        }
        if (id == '1') {
            SmEnableChar = (char)value;
            DebugTrace(1, "SMEnable Value: %c \n", value);
        } else {
            SdHostChar = (char)value;
            DebugTrace(1, "SdHost Value: %c \n", value);
            return 1;
        }
    }
    return 0;
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

    int found = ScanEntries(file);

    if (fclose(file) != 0)
        OutputDebugStringA("The file 'kvconfig.txt' could not be closed \n");
    else
        OutputDebugStringA("The file 'kvconfig.txt' was closed successfully! \n");
    return found;
}
