// qscheck: tells what quillset will make of a settings file, before the file
// goes out to many machines, writes one that cannot be misread, and tells a
// fleet tool whether a machine still has its settings. The reading is
// quillset's own, from job/.
#include <stdio.h>

#include "dll_search.h"
#include "job.h"
#include "replace_file.h"
#include "settings_text.h"
#include "verdict.h"
#include "wide_output.h"

static const char Usage[] =
    "usage: qscheck [file]\n"
    "       qscheck --write SMEnable=<0|1> SDSwitch=<0-3> [file]\n"
    "       qscheck --verify [file]\n"
    "\n"
    "Reads a settings file the way quillset reads it (default:\n"
    "%windir%\\kvinst\\kvconfig.txt) and prints every entry with its line, which\n"
    "entry counts for each setting, the SMEnable and SDSwitch values quillset\n"
    "would write, and warnings about what was probably not meant: a refused file,\n"
    "no ID '2' entry, ID '1' entries after it or more than one, values outside the\n"
    "table, colons that start other entries, line breaks among the nine skipped\n"
    "bytes. Non-printing bytes show as \\xNN.\n"
    "\n"
    "--write replaces the file with one holding the two values (names in any\n"
    "case), keeps the previous file as kvconfig.txt.bak, creates a missing folder\n"
    "and then prints the report of the new file.\n"
    "\n"
    "--verify only reads: the file, the driver's SMEnable and SDSwitch values,\n"
    "the controller's state and quillset's record of its last run under\n"
    "HKLM\\SOFTWARE\\quillset, and prints one line, nothing on standard error:\n"
    "state=in-line or not-applicable (exit code 0), drift or cannot-tell (1).\n"
    "\n"
    "Exit code: 0 quillset would write values, 1 it would write nothing,\n"
    "2 the file cannot be opened or written, or the command line is wrong.\n";

static const int WouldWrite = 0;
static const int WouldWriteNothing = 1;
static const int CannotCheck = 2;

// One line: before, the path or argument, after.
static void Say(FILE *stream, const char *before, const wchar_t *text, const char *after)
{
    fputs(before, stream);
    PrintWide(stream, text);
    fputs(after, stream);
    fputc('\n', stream);
}

static const int SkippedBytes = 9;

// Follows the scan through a binary view of the same file: the scan's offsets
// are exact for every file quillset does not refuse.
struct Report {
    FILE *bytes;
    long long position;
    unsigned long line;
    int previous;
    int idTwoSeen;
    unsigned long smLine, sdLine; // the entries that count; 0 for none
    unsigned long smCount;
};

// Counts line ends up to offset; returns how many CR and LF bytes it passed.
// A lone CR ends a line too, as it does in an editor.
static int CountTo(Report *report, long long offset)
{
    int breaks = 0;
    for (; report->position < offset; report->position++) {
        int c = fgetc(report->bytes);
        if (c == EOF)
            break;
        if (c == '\r' || (c == '\n' && report->previous != '\r'))
            report->line++;
        breaks += c == '\r' || c == '\n';
        report->previous = c;
    }
    return breaks;
}

// A character as it was in the file: printable ASCII as itself, else \xNN.
static const char *Shown(int c)
{
    static char text[2][16];
    static int next;
    char *out = text[next];
    next = !next;
    if (c == EOF)
        return "(end of file)";
    if (c >= 0x20 && c < 0x7F)
        snprintf(out, sizeof text[0], "'%c'", c);
    else
        snprintf(out, sizeof text[0], "'\\x%02x'", c & 0xFF);
    return out;
}

static void CheckValue(unsigned long line, int id, int value)
{
    int inTable = id == '1' ? value == '0' || value == '1' : value >= '0' && value <= '3';
    if (inTable)
        return;
    if (id == '1')
        printf("warning: line %lu: value %s is not 0 or 1; SMEnable becomes %lu\n", line, Shown(value),
               SmEnableFromChar((char)value));
    else
        printf("warning: line %lu: value %s is not 0 to 3; SDSwitch becomes %lu\n", line, Shown(value),
               SdSwitchFromChar((char)value));
}

static int OnEntry(void *context, int id, long long idEnd, int value)
{
    Report *report = static_cast<Report *>(context);
    CountTo(report, id == EOF ? idEnd - 1 : idEnd - 2);
    unsigned long line = report->line;
    if (id != '1' && id != '2') {
        printf("line %lu: ID %s\n", line, Shown(id));
        printf("warning: line %lu: this colon starts an entry with ID %s, which quillset skips; keep colons "
               "out of comments\n",
               line, Shown(id));
        return 1;
    }

    printf("line %lu: ID '%c', value %s\n", line, id, Shown(value));
    CountTo(report, idEnd);
    if (CountTo(report, idEnd + SkippedBytes) > 0)
        printf("warning: line %lu: a line break among the nine bytes after the ID; the value is the byte "
               "after them, %s\n",
               line, Shown(value));
    if (report->idTwoSeen) {
        if (id == '1')
            printf("warning: line %lu: this ID '1' entry comes after the ID '2' entry and is never read\n", line);
        return 1;
    }
    CheckValue(line, id, value);
    if (id == '1') {
        report->smLine = line;
        report->smCount++;
    } else {
        report->sdLine = line;
        report->idTwoSeen = 1;
    }
    return 1;
}

// The message quillset would write, without its trailing space and line feed.
static void PrintRefusal(const char *message)
{
    int length = lstrlenA(message);
    while (length > 0 && (message[length - 1] == ' ' || message[length - 1] == '\n'))
        length--;
    printf("warning: %.*s\n", length, message);
}

static int Summarize(const Report *report, int found)
{
    if (!found) {
        printf("warning: no ID '2' entry\n");
        printf("quillset would write nothing\n");
        return WouldWriteNothing;
    }
    if (report->smCount > 1)
        printf("warning: %lu ID '1' entries; the one on line %lu counts\n", report->smCount, report->smLine);
    if (report->smLine != 0)
        printf("SMEnable %lu, from line %lu\n", SmEnableFromChar(SmEnableChar), report->smLine);
    else
        printf("SMEnable %lu, no ID '1' entry before the ID '2' entry\n", SmEnableFromChar(SmEnableChar));
    printf("SDSwitch %lu, from line %lu\n", SdSwitchFromChar(SdHostChar), report->sdLine);
    return WouldWrite;
}

static int CheckFile(const wchar_t *path)
{
    FILE *scanned = _wfopen(path, L"rb");
    if (scanned == NULL) {
        Say(stderr, "qscheck: cannot open ", path, "");
        return CannotCheck;
    }
    FILE *bytes = _wfopen(path, L"rb");
    if (bytes == NULL) {
        fclose(scanned);
        Say(stderr, "qscheck: cannot open ", path, "");
        return CannotCheck;
    }

    Say(stdout, "", path, "");
    int result = WouldWriteNothing;
    const char *refusal = SettingsBytesRefusal(bytes);
    rewind(bytes);
    if (refusal != NULL) {
        PrintRefusal(refusal);
        printf("quillset would write nothing\n");
    } else {
        Report report = {bytes, 0, 1, -1, 0, 0, 0, 0};
        int found = ScanSettings(scanned, OnEntry, &report);
        if (ferror(scanned)) {
            printf("warning: the file could not be read to its end\n");
            printf("quillset would write nothing\n");
        } else
            result = Summarize(&report, found);
    }
    fclose(bytes);
    fclose(scanned);
    return result;
}

static int SayArgsFault(const WriteArgs *parsed, const wchar_t *const *args)
{
    static const wchar_t *const missing[] = {L"SMEnable=<0|1>", L"SDSwitch=<0-3>"};
    const wchar_t *arg = args[parsed->faultIndex];
    switch (parsed->fault) {
    case UnknownSetting:
        Say(stderr, "qscheck: unknown setting '", arg, "': use SMEnable=<0|1> and SDSwitch=<0-3>");
        break;
    case ValueOutOfRange:
        Say(stderr, "qscheck: value out of range in '", arg, "': SMEnable takes 0 or 1, SDSwitch 0 to 3");
        break;
    case SettingTwice: Say(stderr, "qscheck: a setting is given twice: '", arg, "'"); break;
    case SettingMissing: Say(stderr, "qscheck: ", missing[parsed->faultIndex], " is missing"); break;
    case SecondFile: Say(stderr, "qscheck: more than one file: '", arg, "'"); break;
    case ArgsFine: break;
    }
    fputs("qscheck: nothing written\n", stderr);
    return CannotCheck;
}

// qscheck --write: the file, then its report.
static int WriteSettings(int count, wchar_t *const *args, const wchar_t *defaultPath)
{
    WriteArgs parsed;
    if (!ParseWriteArgs(count, args, &parsed))
        return SayArgsFault(&parsed, args);
    const wchar_t *path = parsed.file != NULL ? parsed.file : defaultPath;
    if (path == NULL) {
        fprintf(stderr, "qscheck: cannot find the Windows folder\n");
        return CannotCheck;
    }
    char text[256];
    size_t length = 0;
    const char *why = "";
    DWORD error = 0;
    int made = SettingsFileText(parsed.smEnable, parsed.sdSwitch, text, sizeof text, &length);
    // A retry with the same settings must not make the first try's file the
    // .bak, in place of the one an administrator made.
    if (made && FileHoldsBytes(path, text, static_cast<DWORD>(length))) {
        Say(stdout, "qscheck: ", path, " already holds these settings: nothing written");
        return CheckFile(path);
    }
    if (!made || !ReplaceFileBytes(path, text, static_cast<DWORD>(length), &why, &error)) {
        char reason[160];
        snprintf(reason, sizeof reason, error == 0 ? ": %s" : error == ERROR_ACCESS_DENIED
                                                                 ? ": %s (error %lu, access denied)"
                                                                 : ": %s (error %lu)",
                 why, error);
        Say(stderr, "qscheck: cannot write ", path, reason);
        fputs("qscheck: nothing written\n", stderr);
        return CannotCheck;
    }
    return CheckFile(path);
}

// qscheck --verify: one line, on standard output only, as a fleet tool reads
// anything on standard error as a failed script.
static int Verify(const wchar_t *path)
{
    VerifyReadings readings;
    ReadVerifyReadings(path, &readings);
    static wchar_t line[VerdictLineChars + 1];
    int exitCode = ComposeVerdict(&readings, line);
    PrintWide(stdout, line);
    fputc('\n', stdout);
    fflush(stdout);
    return exitCode;
}

static int IsHelp(const wchar_t *arg)
{
    return lstrcmpW(arg, L"/?") == 0 || lstrcmpW(arg, L"-h") == 0 || lstrcmpW(arg, L"--help") == 0;
}

int wmain(int argc, wchar_t **argv)
{
    // Administrators may run it elevated from a download folder too.
    LimitDllSearch();
    if (argc > 1 && IsHelp(argv[1])) {
        fputs(Usage, stdout);
        return 0;
    }
    wchar_t defaultPath[MAX_PATH];
    UINT length = GetWindowsDirectoryW(defaultPath, MAX_PATH);
    int found = length != 0 && length + sizeof "\\kvinst\\kvconfig.txt" <= MAX_PATH;
    if (found)
        lstrcatW(defaultPath, L"\\kvinst\\kvconfig.txt");

    if (argc > 1 && lstrcmpW(argv[1], L"--verify") == 0) {
        if (argc > 3 || (argc == 3 && argv[2][0] == L'-')) {
            fputs(Usage, stderr);
            return CannotCheck;
        }
        return Verify(argc == 3 ? argv[2] : found ? defaultPath : NULL);
    }
    if (argc > 1 && lstrcmpW(argv[1], L"--write") == 0)
        return WriteSettings(argc - 2, argv + 2, found ? defaultPath : NULL);
    if (argc > 2 || (argc == 2 && argv[1][0] == L'-')) {
        fputs(Usage, stderr);
        return CannotCheck;
    }
    if (argc == 2)
        return CheckFile(argv[1]);
    if (!found) {
        fprintf(stderr, "qscheck: cannot find the Windows folder\n");
        return CannotCheck;
    }
    return CheckFile(defaultPath);
}
