// qscheck --verify: how each reading of the file, the key and the controller
// enters the line and the exit code, and the line's limit.
#include <string>

#include <gtest/gtest.h>

#include "verdict.h"

namespace {

const std::wstring Path = L"C:\\Windows\\kvinst\\kvconfig.txt";

std::wstring Verdict(const VerifyReadings &readings, int *exitCode)
{
    wchar_t line[VerdictLineChars + 1];
    *exitCode = ComposeVerdict(&readings, line);
    return line;
}

// The file says SMEnable 0 and SDSwitch 3.
#define VALUES L" SMEnable=0 want=0 SDSwitch=3 want=3 controller="

TEST(Verdict, EachReadingEntersTheLine)
{
    const struct {
        FileReading file;
        KeyReading key;
        DWORD smEnable;        // the key's SMEnable; SDSwitch is 3 unless missing or not a DWORD
        ValueReading sdSwitch;
        DeviceState controller;
        DWORD problem;
        int exitCode;
        const wchar_t *line; // between "state=" and " applied=unknown file="
        int recorded = 0;    // the record names the controller as the one quillset disabled
    } rows[] = {
        {FileRead, KeyOpened, 0, ValueDword, DeviceRunning, 0, 0, L"in-line" VALUES L"running"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceDisabled, 22, 1, L"drift reason=controller" VALUES L"disabled", 1},
        // Disabled, but not by quillset: it leaves the controller so.
        {FileRead, KeyOpened, 0, ValueDword, DeviceDisabled, 22, 0, L"in-line" VALUES L"disabled"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceProblem, 10, 1, L"drift reason=controller" VALUES L"problem-10"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceNeedsReboot, 14, 1,
         L"drift reason=controller" VALUES L"needs-reboot"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceNotStarted, 0, 1, L"drift reason=controller" VALUES L"not-started"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceAbsent, 0, 0, L"in-line" VALUES L"absent"},
        {FileRead, KeyOpened, 0, ValueDword, DeviceStateUnknown, 0, 0, L"in-line" VALUES L"unknown"},
        {FileRead, KeyOpened, 1, ValueMissing, DeviceDisabled, 22, 1,
         L"drift reason=SMEnable,SDSwitch,controller SMEnable=1 want=0 SDSwitch=missing want=3 controller=disabled", 1},
        {FileRead, KeyOpened, 0, ValueNotDword, DeviceRunning, 0, 1,
         L"drift reason=SDSwitch SMEnable=0 want=0 SDSwitch=not-dword want=3 controller=running"},
        // No driver: nothing to mend, whatever else is wrong.
        {FileMissing, KeyNoDriver, 0, ValueDword, DeviceDisabled, 22, 0,
         L"not-applicable reason=driver-not-installed SMEnable=missing want=unknown SDSwitch=missing want=unknown "
         L"controller=disabled"},
        // What keeps us from comparing goes before a controller that is off.
        {FileBareLf, KeyAccessDenied, 0, ValueDword, DeviceDisabled, 22, 1,
         L"cannot-tell reason=file-bare-lf,key-denied SMEnable=unknown want=unknown SDSwitch=unknown want=unknown "
         L"controller=disabled"},
        {FileNoId2, KeyNoParameters, 0, ValueDword, DeviceRunning, 0, 1,
         L"cannot-tell reason=file-no-id-2,parameters-key-missing SMEnable=missing want=unknown SDSwitch=missing "
         L"want=unknown controller=running"},
        {FileRead, KeyError, 0, ValueDword, DeviceRunning, 0, 1,
         L"cannot-tell reason=key-error-1018 SMEnable=unknown want=0 SDSwitch=unknown want=3 controller=running"},
    };
    for (const auto &row : rows) {
        VerifyReadings readings = {row.file, {0, 3}, row.key, 1018, {ValueDword, row.sdSwitch}, {row.smEnable, 3},
                                   row.controller, row.problem, Path.c_str(), row.recorded, 0, {}, 0, 0, 0};
        int exitCode = -1;
        EXPECT_EQ(Verdict(readings, &exitCode),
                  L"state=" + std::wstring(row.line) + L" applied=unknown file=" + Path);
        EXPECT_EQ(exitCode, row.exitCode) << std::wstring(row.line).c_str();
    }
}

// Values that match, by quillset's record of the run that stored them and
// the machine's boots since: a run that did not restart the controller has
// not put them in effect until a reboot.
TEST(Verdict, StoredIsNotInEffectUntilARestart)
{
    const ULONGLONG Hour = 3600000, Day = 24 * Hour;
    const ULONGLONG RunTime = 134100000000000000ull; // when the run ended, as a FILETIME
    const struct {
        DWORD applied;
        DWORD stored[2];          // what the record says the run stored
        ULONGLONG sinceRunMs;     // by the clock
        ULONGLONG uptimeMs;       // now; for a wrapping tick count only its 32 bits count
        int wraps;
        DWORD ticksAtRun;         // GetTickCount when the run ended
        DeviceState controller;
        int exitCode;
        const wchar_t *line;      // between "state=" and " file="
    } rows[] = {
        {AppliedRestarted, {0, 3}, Day, 5 * Day, 0, 0, DeviceRunning, 0,
         L"in-line" VALUES L"running applied=restart"},
        {AppliedNotRestarted, {0, 3}, Hour, 5 * Day, 0, 0, DeviceRunning, 1,
         L"drift reason=not-in-effect" VALUES L"running applied=pending"},
        {AppliedNotRestarted, {0, 3}, Day, Hour, 0, 0, DeviceRunning, 0, L"in-line" VALUES L"running applied=reboot"},
        // The reboot the class installer asked for has not come.
        {AppliedAtReboot, {0, 3}, Hour, 5 * Day, 0, 0, DeviceNeedsReboot, 1,
         L"drift reason=controller,not-in-effect" VALUES L"needs-reboot applied=pending"},
        // Nothing to restart, or disabled on purpose: they apply once it starts.
        {AppliedNotRestarted, {0, 3}, Hour, 5 * Day, 0, 0, DeviceAbsent, 0,
         L"in-line" VALUES L"absent applied=pending"},
        {AppliedWhenEnabled, {0, 3}, Hour, 5 * Day, 0, 0, DeviceDisabled, 0,
         L"in-line" VALUES L"disabled applied=enable"},
        // Values set since by hand: the record is not about them.
        {AppliedNotRestarted, {1, 3}, Hour, 5 * Day, 0, 0, DeviceRunning, 0,
         L"in-line" VALUES L"running applied=unknown"},
        // XP's tick count wrapped since the run (60 days up), or restarted:
        // only the ticks since the run tell.
        {AppliedNotRestarted, {0, 3}, 20 * Day, (60 * Day) % 0x100000000ull, 1,
         static_cast<DWORD>((40 * Day) % 0x100000000ull), DeviceRunning, 1,
         L"drift reason=not-in-effect" VALUES L"running applied=pending"},
        {AppliedNotRestarted, {0, 3}, 20 * Day, 3 * Day, 1, static_cast<DWORD>((40 * Day) % 0x100000000ull),
         DeviceRunning, 0, L"in-line" VALUES L"running applied=reboot"},
        // A reboot right after the run, and the clock 10 s off since.
        {AppliedNotRestarted, {0, 3}, Hour, Hour - 40000, 0, 0, DeviceRunning, 0,
         L"in-line" VALUES L"running applied=reboot"},
        {AppliedNotRestarted, {0, 3}, Hour + 10000, Hour + 60000, 1, 60000, DeviceRunning, 1,
         L"drift reason=not-in-effect" VALUES L"running applied=pending"},
    };
    for (const auto &row : rows) {
        RunRecord run = {row.stored[0], row.stored[1], row.applied, row.ticksAtRun,
                         {static_cast<DWORD>(RunTime), static_cast<DWORD>(RunTime >> 32)}};
        VerifyReadings readings = {FileRead, {0, 3}, KeyOpened, 0, {ValueDword, ValueDword}, {0, 3},
                                   row.controller, 0, Path.c_str(), 0, 1, run,
                                   RunTime + row.sinceRunMs * 10000, row.uptimeMs, row.wraps};
        int exitCode = -1;
        EXPECT_EQ(Verdict(readings, &exitCode), L"state=" + std::wstring(row.line) + L" file=" + Path);
        EXPECT_EQ(exitCode, row.exitCode) << std::wstring(row.line).c_str();
    }
}

TEST(Verdict, LongPathIsCutToTheLimit)
{
    // Cyrillic letters (2 bytes in UTF-8) that fit, that put a surrogate
    // pair (4) astride the cut, or ASCII letters: cut to the very byte.
    const struct {
        wchar_t letter;
        size_t count, letterBytes;
    } paths[] = {{L'\x0436', 950, 2}, {L'\x0436', 981, 2}, {L'x', 2100, 1}};
    for (const auto &p : paths) {
        std::wstring path = L"C:\\" + std::wstring(p.count, p.letter) + L"\xD83D\xDCBE\\kvconfig.txt";
        int exitCode;
        VerifyReadings readings = {FileRead, {0, 3}, KeyOpened, 0, {ValueDword, ValueDword}, {0, 3},
                                   DeviceRunning, 0, path.c_str(), 0, 0, {}, 0, 0, 0};
        std::wstring line = Verdict(readings, &exitCode);
        size_t file = line.find(L" file=") + 6, kept = line.size() - file;
        if (p.count == 950) {
            EXPECT_EQ(line.substr(file), path) << "a path that fits is cut";
            continue;
        }
        kept -= 3;
        EXPECT_EQ(line.substr(file + kept), L"...");
        EXPECT_EQ(line.substr(file, kept), path.substr(0, kept)) << p.count;
        ASSERT_LE(kept, 3 + p.count) << "the surrogate pair is cut";
        size_t bytes = file + 3 + (kept - 3) * p.letterBytes + 3;
        EXPECT_LE(bytes, VerdictLineChars);
        EXPECT_TRUE(p.letterBytes > 1 || bytes == VerdictLineChars) << "not cut to the very byte";
    }
}

} // namespace
