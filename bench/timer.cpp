// qstimer: runs programs in alternation (A B, B A, A B ...) and prints the
// median, lowest and highest wall time of each, from process creation to exit.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static const char Usage[] =
    "usage: qstimer <rounds> <entry> [<entry>...]\n"
    "  entry: label=command-line[|source|target]\n"
    "Each round runs every entry once, after one untimed round: odd rounds\n"
    "in the order given, even ones in reverse.\n"
    "With |source|target, source is copied onto target before each run of\n"
    "the entry, outside the timing. Prints each run, then per entry:\n"
    "  run <label> <round> <ms>          (round 0 is the untimed one)\n"
    "  median <label> <median-ms> <min-ms> <max-ms> <runs>\n";

static const int MaxEntries = 8;
static const int MaxRounds = 100;

struct Entry {
    char *label;
    char *command;
    char *source; // NULL when nothing is copied
    char *target;
    double ms[MaxRounds];
};

// Splits "label=command|source|target" in place; returns 0 when malformed.
static int ParseEntry(char *text, Entry *entry)
{
    char *equals = strchr(text, '=');
    if (equals == NULL || equals == text || equals[1] == '\0')
        return 0;
    *equals = '\0';
    entry->label = text;
    entry->command = equals + 1;
    entry->source = NULL;
    entry->target = NULL;
    char *bar = strchr(entry->command, '|');
    if (bar == NULL)
        return 1;
    *bar = '\0';
    entry->source = bar + 1;
    bar = strchr(entry->source, '|');
    if (bar == NULL || bar[1] == '\0')
        return 0;
    *bar = '\0';
    entry->target = bar + 1;
    return 1;
}

// Runs the entry once and stores the time in *ms; returns 0 on any failure,
// a non-zero exit code included, since a broken run would skew the figures.
static int RunOnce(Entry *entry, double *ms)
{
    if (entry->source != NULL && !CopyFileA(entry->source, entry->target, FALSE)) {
        fprintf(stderr, "qstimer: cannot copy %s to %s: error %lu\n", entry->source, entry->target,
                GetLastError());
        return 0;
    }

    // CreateProcessA may write into the command line, so it gets a copy.
    char commandLine[4096];
    if (lstrlenA(entry->command) >= (int)sizeof commandLine) {
        fprintf(stderr, "qstimer: command line too long: %s\n", entry->command);
        return 0;
    }
    lstrcpyA(commandLine, entry->command);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "qstimer: cannot start %s: error %lu\n", entry->command, GetLastError());
        return 0;
    }
    DWORD waited = WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);

    DWORD exitCode = 1;
    int ok = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &exitCode) && exitCode == 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!ok) {
        fprintf(stderr, "qstimer: %s failed: wait %lu, exit code %lu\n", entry->label, waited, exitCode);
        return 0;
    }
    *ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    return 1;
}

static double Median(const double *values, int count, double *low, double *high)
{
    double sorted[MaxRounds];
    for (int i = 0; i < count; i++) {
        int j = i;
        while (j > 0 && sorted[j - 1] > values[i]) {
            sorted[j] = sorted[j - 1];
            j--;
        }
        sorted[j] = values[i];
    }
    *low = sorted[0];
    *high = sorted[count - 1];
    return count % 2 ? sorted[count / 2] : (sorted[count / 2 - 1] + sorted[count / 2]) / 2.0;
}

int main(int argc, char **argv)
{
    static Entry entries[MaxEntries];
    int rounds = argc >= 3 ? atoi(argv[1]) : 0;
    int count = argc - 2;
    if (rounds < 1 || rounds > MaxRounds || count < 1 || count > MaxEntries) {
        fputs(Usage, stderr);
        return 2;
    }
    for (int i = 0; i < count; i++)
        if (!ParseEntry(argv[i + 2], &entries[i])) {
            fprintf(stderr, "qstimer: malformed entry: %s\n", argv[i + 2]);
            return 2;
        }

    // Round 0 warms the file cache and Wine's DLL mappings and is not counted.
    // The order turns every round, so no entry always runs first or right
    // after the same other one, and the runs of one round make fair pairs.
    for (int round = 0; round <= rounds; round++)
        for (int k = 0; k < count; k++) {
            int i = round % 2 ? k : count - 1 - k;
            double ms;
            if (!RunOnce(&entries[i], &ms))
                return 1;
            printf("run %s %d %.2f\n", entries[i].label, round, ms);
            if (round > 0)
                entries[i].ms[round - 1] = ms;
        }

    for (int i = 0; i < count; i++) {
        double low, high;
        double median = Median(entries[i].ms, rounds, &low, &high);
        printf("median %s %.2f %.2f %.2f %d\n", entries[i].label, median, low, high, rounds);
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
